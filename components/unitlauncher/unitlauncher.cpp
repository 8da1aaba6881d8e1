#include "unitlauncher.h"

#include <QtGlobal>

namespace UnitLauncher {

Command outsideSandbox(const QString &program, const QStringList &arguments)
{
    // systemd sets INVOCATION_ID for every service it runs.
    if (qEnvironmentVariableIsEmpty("INVOCATION_ID"))
        return {program, arguments};
    // --wait passes the program's exit status on as systemd-run's own.
    const QStringList unitArguments{QStringLiteral("--quiet"), QStringLiteral("--collect"),
                                    QStringLiteral("--service-type=exec"), QStringLiteral("--wait"),
                                    QStringLiteral("--description=brevdaemon: ") + program};
    return {QStringLiteral("systemd-run"), unitArguments + QStringList{QStringLiteral("--"), program} + arguments};
}

} // namespace UnitLauncher
