#include "daemon/logcategories.h"

Q_LOGGING_CATEGORY(logPort, "brevdaemon.port", QtInfoMsg)
Q_LOGGING_CATEGORY(logCommands, "brevdaemon.hostlink", QtInfoMsg)
Q_LOGGING_CATEGORY(logJobs, "brevdaemon.jobs", QtInfoMsg)
Q_LOGGING_CATEGORY(logUpdate, "brevdaemon.update", QtInfoMsg)
Q_LOGGING_CATEGORY(logServices, "brevdaemon.services", QtInfoMsg)
