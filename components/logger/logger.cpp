#include "logger.h"

#include <QDateTime>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

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

// syslog(3) priorities, as the journal reads them from a "<N>" prefix.
int journalPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return 7;
    case QtInfoMsg: return 6;
    case QtWarningMsg: return 4;
    case QtCriticalMsg: return 3;
    case QtFatalMsg: return 2;
    }
    return 7;
}

// systemd names the journal stream it connected as "<device>:<inode>" in
// JOURNAL_STREAM; standard error goes there if it is that file.
bool stderrIsJournal()
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat error;
    if (stream.isEmpty() || ::fstat(2, &error) != 0)
        return false;
    return stream == QByteArray::number(qulonglong(error.st_dev)) + ':' + QByteArray::number(qulonglong(error.st_ino));
}

bool toJournal = false;

// A message is one line: a line end or any other control character inside
// it (one that came from the host, say) is written as an escape, so that a
// message can never start a journal entry of its own.
QString escapedControls(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

void writeLine(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    // One fprintf per message keeps lines whole when stderr is shared.
    std::fprintf(stderr, "%s\n", logLine(type, text, toJournal).constData());
    if (type == QtFatalMsg)
        std::abort();
}

} // namespace

QByteArray logLine(QtMsgType type, const QString &text, bool journal)
{
    QString message = text;
    while (message.endsWith(QLatin1Char('\n')))
        message.chop(1);
    message = escapedControls(message);
    if (journal)
        return '<' + QByteArray::number(journalPriority(type)) + '>' + message.toLocal8Bit();
    const QByteArray stamp = QDateTime::currentDateTime()
                                 .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLatin1();
    return stamp + ' ' + levelName(type) + ": " + message.toLocal8Bit();
}

void setupLogger()
{
    toJournal = stderrIsJournal();
    qInstallMessageHandler(writeLine);
}
