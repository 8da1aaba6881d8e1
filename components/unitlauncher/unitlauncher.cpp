#include "unitlauncher.h"

#include <QtGlobal>

namespace UnitLauncher {

Command outsideSandbox(const QString &program, const QStringList &arguments, Completion completion)
{
    // systemd sets INVOCATION_ID for every service it runs.
    if (qEnvironmentVariableIsEmpty("INVOCATION_ID"))
        return {program, arguments};
    QStringList unitArguments{QStringLiteral("--quiet"), QStringLiteral("--collect"),
                              QStringLiteral("--service-type=exec"),
                              QStringLiteral("--description=brevdaemon: ") + program};
    // --wait passes the program's exit status on as systemd-run's own.
    unitArguments << (completion == Completion::Awaited ? QStringLiteral("--wait") : QStringLiteral("--no-block"));
    return {QStringLiteral("systemd-run"), unitArguments + QStringList{QStringLiteral("--"), program} + arguments};
}

} // namespace UnitLauncher
