#pragma once

// Ctrl-C, a closed terminal or a polite kill end brevctl's waits and writes
// instead of the process: a command may then leave the printer in a state
// the next command can use (an interrupted update waits out the printer's
// transfer silence). A second interruption while one is handled is left to
// the command too.
namespace Interruption {

// Catches SIGINT, SIGTERM and SIGHUP from now on, without restarting the
// system call they interrupt.
void catchSignals();

// How many interruptions came since the program started.
int count();

} // namespace Interruption
