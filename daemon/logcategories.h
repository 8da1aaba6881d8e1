#pragma once

#include <QLoggingCategory>

// One logging category per part of the daemon, so that a field engineer can
// trace one part with QT_LOGGING_RULES (for example
// "brevdaemon.update.debug=true"). Each logs its information, warnings and
// faults by default; debug lines are the traces a rule turns on.
Q_DECLARE_LOGGING_CATEGORY(logPort)     // brevdaemon.port: the gadget device, reads and writes
Q_DECLARE_LOGGING_CATEGORY(logCommands) // brevdaemon.hostlink: the commands found in the host's stream
Q_DECLARE_LOGGING_CATEGORY(logJobs)     // brevdaemon.jobs: the job file and lp
Q_DECLARE_LOGGING_CATEGORY(logUpdate)   // brevdaemon.update: transfers, the installer, the update program
Q_DECLARE_LOGGING_CATEGORY(logServices) // brevdaemon.services: the sibling services on the bus
