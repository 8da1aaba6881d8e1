#pragma once

#include <QString>
#include <QStringList>

struct Command;

// brevctl's command line: global options, one command and its arguments.
struct CommandLine
{
    enum Outcome {
        Run,      // run `command` with `arguments`
        ShowText, // print `text` and succeed: help, version, command names
        Invalid,  // print `text` as the error and fail
    };

    Outcome outcome = Invalid;
    const Command *command = nullptr;
    QStringList arguments;
    QString device; // -d, else BREVCTL_DEVICE, else /dev/usb/lp0
    int timeoutMs = 0; // how long to wait for the printer
    bool verbose = false;
    bool quiet = false; // only results and errors, no progress or confirmations
    bool json = false;  // results as JSON
    bool raw = false;   // print: send the file as it is, unchecked
    QString text;
};

// `arguments` as main() gets them, the program name first.
CommandLine parseCommandLine(const QStringList &arguments);
