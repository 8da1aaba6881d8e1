#include "logger.h"

#include <QDateTime>
#include <QtGlobal>

#include <cstdio>

namespace {

const char *levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return "debug";
    case QtInfoMsg: return "info";
    case QtWarningMsg: return "warning";
    case QtCriticalMsg: return "critical";
    case QtFatalMsg: return "fatal";
    }
    return "debug";
}

void writeLine(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    QString message = text;
    while (message.endsWith(QLatin1Char('\n')))
        message.chop(1);
    const QByteArray stamp = QDateTime::currentDateTime()
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1();
    // One fprintf per message keeps lines whole when stderr is shared.
    std::fprintf(stderr, "%s %s: %s\n", stamp.constData(), levelName(type),
                 message.toLocal8Bit().constData());
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

void setupLogger()
{
    qInstallMessageHandler(writeLine);
}
