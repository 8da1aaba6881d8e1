#pragma once

#include "commandline.h"

#include <QTextStream>

// Exit statuses of brevctl.
enum ExitStatus {
    Success = 0,
    BadArguments = 1,
    DeviceFailed = 2, // the device or a file could not be opened, read or written
    NoAnswer = 3,     // the printer did not answer in time
    PrinterError = 4, // the printer reported an error
};

// Runs a parsed command against its device. `out` gets the result, `err`
// the problems; `interactive` redraws the progress bar in place.
int runCommand(const CommandLine &line, QTextStream &out, QTextStream &err, bool interactive);
