#pragma once

#include <QString>
#include <QtGlobal>

// Where the daemon finds its device, files and programs, and how its timers
// pace it. The defaults are the printer's fixed values; the shipped binary
// always uses them, and only tests construct the daemon with others.
struct DaemonSettings
{
    QString gadgetPath = QStringLiteral("/dev/g_nira_printer");
    QString jobFilePath = QStringLiteral("/tmp/temp.cvzl");
    QString updateDir = QStringLiteral("/Home/");
    QString printProgram = QStringLiteral("lp");
    QString updateProgram = QStringLiteral("/usr/bin/Fenwick");
    QString packageInstaller = QStringLiteral("/usr/libexec/brevdaemon/install-package");

    int reinitIntervalMs = 5000;
    int pingIntervalMs = 5000;
    int batchIntervalMs = 1000;
    int printRetryIntervalMs = 10000;
    // A device that does not open, or whose reads fail (the cable is out),
    // is tried again after a pause that doubles from the first to the last.
    int portRetryMinMs = 100;
    int portRetryMaxMs = 500;
    // An update transfer whose sender stays silent this long is given up.
    int transferSilenceMs = 10000;
    // A sibling service that has not answered a call in this time is taken
    // as not answering (a local service answers in milliseconds; the bus
    // library's own limit is 25 s).
    int serviceCallTimeoutMs = 2000;

    // Free space the host's data never takes: an update whose size would
    // leave less free in the update folder's file system is refused, and a
    // job stops growing where its file's would fall below its reserve.
    qint64 updateDirReserveBytes = 16 * 1024 * 1024;
    qint64 jobFileReserveBytes = 16 * 1024 * 1024;
};
