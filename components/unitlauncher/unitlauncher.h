#pragma once

#include <QString>
#include <QStringList>

// Runs the work that needs root and the whole system (installing a package,
// the update program) outside the daemon, which holds neither. Under systemd
// the daemon asks one of its package's root units for it: each listens on a
// socket that only the daemon's group may connect to, runs its one fixed
// program for the request and answers that program's exit status. The
// command returned is the package's small client for that socket, which ends
// with the status answered. Elsewhere (tests, the simulated printer) the
// program itself is the command.
namespace UnitLauncher {

enum class RootJob {
    InstallPackage, // the package installer, on a file in the set-aside folder
    UpdateProgram,  // the printer's update program
};

struct Command
{
    QString program;
    QStringList arguments;
};

// The command that has `job` done: outside systemd, `program` with
// `arguments`; it ends when the job ends, with the job's exit status.
Command outsideSandbox(RootJob job, const QString &program, const QStringList &arguments);

} // namespace UnitLauncher
