#pragma once

#include <QString>
#include <QStringList>

// Runs programs that need the whole system (dpkg, the update program) outside
// the daemon's sandbox. When the daemon itself runs as a systemd service, a
// program is started as a transient unit of its own by systemd-run, so that
// none of the service's confinement applies to it; elsewhere (tests, the
// simulated printer) it is started as it is.
namespace UnitLauncher {

struct Command
{
    QString program;
    QStringList arguments;
};

// The command that runs `program` with `arguments` so; it ends when the
// program ends, with its exit status.
Command outsideSandbox(const QString &program, const QStringList &arguments);

} // namespace UnitLauncher
