#include "unitlauncher.h"

#include <QtGlobal>

namespace UnitLauncher {

namespace {

const char *socketOf(RootJob job)
{
    switch (job) {
    case RootJob::InstallPackage:
        return "/run/brevdaemon/install";
    case RootJob::UpdateProgram:
        return "/run/brevdaemon/update";
    }
    Q_UNREACHABLE();
}

} // namespace

Command outsideSandbox(RootJob job, const QString &program, const QStringList &arguments)
{
    // systemd sets INVOCATION_ID for every service it runs.
    if (qEnvironmentVariableIsEmpty("INVOCATION_ID"))
        return {program, arguments};
    return {QStringLiteral("/usr/libexec/brevdaemon/call-root"), QStringList{QLatin1String(socketOf(job))} + arguments};
}

} // namespace UnitLauncher
