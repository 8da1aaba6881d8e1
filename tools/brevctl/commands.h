#pragma once

#include "commandline.h"

#include <QTextStream>

class LinkDevice;
struct Command;
struct Console;

// Exit statuses of brevctl.
enum ExitStatus {
    Success = 0,
    BadArguments = 1, // also a file that is no print job
    DeviceFailed = 2, // the device or a file could not be opened, read or written, or is in use
    NoAnswer = 3,     // the printer did not answer in time
    PrinterError = 4, // the printer reported an error
    NotADevice = 5,   // the device path is no character device
    Interrupted = 130,
};

// Opens the command's device, locked against other brevctl runs, and runs it.
int runCommand(const CommandLine &line, Console &console);

// Whether the command shows values, which --json can write.
bool showsValues(const Command &command);

// What the commands of the table do, on an open device.
int runQuery(const CommandLine &line, LinkDevice &device, Console &console);
int runPrint(const CommandLine &line, LinkDevice &device, Console &console);
int runUpdate(const CommandLine &line, LinkDevice &device, Console &console);
int runSetNetwork(const CommandLine &line, LinkDevice &device, Console &console);
int runSetShip(const CommandLine &line, LinkDevice &device, Console &console);
int runWatch(const CommandLine &line, LinkDevice &device, Console &console);
