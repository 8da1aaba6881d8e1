#include "commands.h"

#include "commandtable.h"
#include "linkdevice.h"
#include "linkformat.h"
#include "protocol/hostlink.h"
#include "requests.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace {

QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'g', 3);
}

int deviceFailed(const LinkDevice &device, Console &console)
{
    console.err << "brevctl: " << device.errorText() << Qt::endl;
    return DeviceFailed;
}

bool readFile(const QString &path, QByteArray *content, Console &console)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        console.err << "brevctl: cannot read " << path << ": " << file.errorString() << Qt::endl;
        return false;
    }
    *content = file.readAll();
    return true;
}

// Commands that only send: the printer gives no answer to them.
int runSend(const QByteArray &bytes, const QString &what, LinkDevice &device, Console &console)
{
    if (!device.send(bytes))
        return deviceFailed(device, console);
    console.out << what << Qt::endl;
    return Success;
}

// A line that replaces the one before it for a person, or stands on its own
// in a log.
void showProgress(Console &console, const QString &text)
{
    console.out << (console.interactive ? "\r" : "") << text << (console.interactive ? "" : "\n");
    console.out.flush();
}

// Ends a line of progress drawn in place before anything else is written.
const char *endOfProgress(const Console &console)
{
    return console.interactive ? "\n" : "";
}

// Sends the transfer, showing the bytes sent and the rate: in place for a
// person, every quarter in a log.
bool sendTransfer(const QByteArray &bytes, const QString &name, LinkDevice &device, Console &console)
{
    QElapsedTimer clock;
    clock.start();
    int shownQuarter = -1;
    const bool sent = device.send(bytes, [&](qint64 done) {
        const int quarter = int(4 * done / bytes.size());
        if (!console.interactive && quarter == shownQuarter)
            return;
        shownQuarter = quarter;
        showProgress(console, LinkFormat::transferText(name, done, bytes.size(), clock.elapsed()));
    });
    console.out << endOfProgress(console);
    return sent;
}

} // namespace

int runCommand(const CommandLine &line, Console &console)
{
    LinkDevice device;
    if (!device.open(line.device))
        return deviceFailed(device, console);
    return line.command->run(line, device, console);
}

int runQuery(const CommandLine &line, LinkDevice &device, Console &console)
{
    const QList<Requests::QueryItem> &items = line.command->queryItems;
    QSet<int> awaited;
    for (const Requests::QueryItem &item : items)
        awaited.insert(item.replyId);
    if (!device.send(Requests::queryBytes(items)))
        return deviceFailed(device, console);

    QHash<int, QString> answers;
    const QDeadlineTimer deadline(line.timeoutMs);
    QByteArray text;
    while (answers.size() < awaited.size()) {
        const LinkDevice::Wait wait = device.nextLine(&text, int(deadline.remainingTime()));
        if (wait == LinkDevice::Failed)
            return deviceFailed(device, console);
        if (wait == LinkDevice::TimedOut)
            break;
        const LinkFormat::Reply reply = LinkFormat::parseReply(text);
        if (awaited.contains(reply.id))
            answers.insert(reply.id, reply.payload);
    }
    if (answers.isEmpty()) {
        console.err << "brevctl: no answer from " << line.device << " within " << seconds(line.timeoutMs) << " s"
                    << Qt::endl;
        return NoAnswer;
    }
    console.out << Requests::answerText(items, answers) << Qt::endl;
    if (answers.size() == awaited.size())
        return Success;
    console.err << "brevctl: " << awaited.size() - answers.size() << " of " << awaited.size()
                << " values got no answer within " << seconds(line.timeoutMs) << " s" << Qt::endl;
    return NoAnswer;
}

int runPrint(const CommandLine &line, LinkDevice &device, Console &console)
{
    QByteArray content;
    if (!readFile(line.arguments.first(), &content, console))
        return DeviceFailed;
    if (!Requests::isWholeJob(content)) {
        console.err << "brevctl: " << line.arguments.first()
                    << " is no whole print job: the printer would keep it as the start of the next job.\n"
                       "A job starts with ^K1 and ends with E and CR LF; see brevctl print --help."
                    << Qt::endl;
        return BadArguments;
    }
    return runSend(content, QStringLiteral("Sent %1 bytes.").arg(content.size()), device, console);
}

int runUpdate(const CommandLine &line, LinkDevice &device, Console &console)
{
    QByteArray content;
    if (!readFile(line.arguments.first(), &content, console))
        return DeviceFailed;
    const QString name = QFileInfo(line.arguments.first()).fileName();
    if (!sendTransfer(Requests::transfer(name, content), name, device, console))
        return deviceFailed(device, console);

    QByteArray text;
    for (;;) {
        const LinkDevice::Wait wait = device.nextLine(&text, line.timeoutMs);
        if (wait == LinkDevice::Failed)
            return deviceFailed(device, console);
        if (wait == LinkDevice::TimedOut) {
            console.err << endOfProgress(console) << "brevctl: no progress report within "
                        << seconds(line.timeoutMs) << " s" << Qt::endl;
            return NoAnswer;
        }
        const LinkFormat::Reply reply = LinkFormat::parseReply(text);
        if (reply.id == HostLink::UpdateProgress) {
            const int percent = reply.payload.toInt();
            showProgress(console, LinkFormat::progressBar(percent));
            if (percent >= 100) {
                console.out << endOfProgress(console) << "Update installed." << Qt::endl;
                return Success;
            }
        } else if (reply.id == HostLink::UpdateError) {
            const int code = reply.payload.toInt();
            console.err << endOfProgress(console) << "brevctl: update failed, error " << code << ": "
                        << LinkFormat::errorText(code) << Qt::endl;
            return PrinterError;
        }
    }
}

int runSetNetwork(const CommandLine &line, LinkDevice &device, Console &console)
{
    return runSend(Requests::setNetwork(line.arguments), QStringLiteral("Network configuration sent."), device,
                   console);
}

int runSetShip(const CommandLine &line, LinkDevice &device, Console &console)
{
    return runSend(Requests::setShip(line.arguments.first()), QStringLiteral("Ship value sent."), device, console);
}

int runWatch(const CommandLine &line, LinkDevice &device, Console &console)
{
    QByteArray text;
    while (device.nextLine(&text, -1) == LinkDevice::GotLine) {
        if (line.verbose || LinkFormat::parseReply(text).id != HostLink::KeepAlive)
            console.out << LinkFormat::watchLine(QDateTime::currentDateTime(), text) << Qt::endl;
    }
    return deviceFailed(device, console);
}
