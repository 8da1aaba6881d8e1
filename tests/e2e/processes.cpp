#include "processes.h"

#include "testenv.h"

#include <QDir>
#include <QFileInfo>

QStringList processesOf(const QString &executable, const QString &text)
{
    QStringList found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &pid : pids) {
        const QString program = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        const QByteArray commandLine = fileContent(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if ((!executable.isEmpty() && program == executable) || commandLine.contains(text.toLocal8Bit()))
            found.append(pid + QLatin1Char(' ') + QString::fromLocal8Bit(commandLine).replace(QChar(0), ' '));
    }
    return found;
}
