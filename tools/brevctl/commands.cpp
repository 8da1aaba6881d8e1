#include "commands.h"

#include "linkdevice.h"
#include "linkformat.h"
#include "protocol/hostlink.h"
#include "requests.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

namespace {

QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'g', 3);
}

int deviceFailed(const LinkDevice &device, QTextStream &err)
{
    err << "brevctl: " << device.errorText() << Qt::endl;
    return DeviceFailed;
}

bool readFile(const QString &path, QByteArray *content, QTextStream &err)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err << "brevctl: cannot read " << path << ": " << file.errorString() << Qt::endl;
        return false;
    }
    *content = file.readAll();
    return true;
}

int runQuery(const CommandLine &line, LinkDevice &device, QTextStream &out, QTextStream &err)
{
    const QList<Requests::QueryItem> items = Requests::queryItems(line.command);
    QSet<int> awaited;
    for (const Requests::QueryItem &item : items)
        awaited.insert(item.replyId);
    if (!device.send(Requests::queryBytes(items)))
        return deviceFailed(device, err);

    QHash<int, QString> answers;
    const QDeadlineTimer deadline(line.timeoutMs);
    QByteArray text;
    while (answers.size() < awaited.size()) {
        const LinkDevice::Wait wait = device.nextLine(&text, int(deadline.remainingTime()));
        if (wait == LinkDevice::Failed)
            return deviceFailed(device, err);
        if (wait == LinkDevice::TimedOut)
            break;
        const LinkFormat::Reply reply = LinkFormat::parseReply(text);
        if (awaited.contains(reply.id))
            answers.insert(reply.id, reply.payload);
    }
    if (answers.isEmpty()) {
        err << "brevctl: no answer from " << line.device << " within " << seconds(line.timeoutMs) << " s" << Qt::endl;
        return NoAnswer;
    }
    out << Requests::answerText(items, answers) << Qt::endl;
    if (answers.size() == awaited.size())
        return Success;
    err << "brevctl: " << awaited.size() - answers.size() << " of " << awaited.size()
        << " values got no answer within " << seconds(line.timeoutMs) << " s" << Qt::endl;
    return NoAnswer;
}

int runUpdate(const CommandLine &line, LinkDevice &device, QTextStream &out, QTextStream &err, bool interactive)
{
    QByteArray content;
    if (!readFile(line.arguments.first(), &content, err))
        return DeviceFailed;
    const QString name = QFileInfo(line.arguments.first()).fileName();
    out << "Sending " << name << " (" << content.size() << " bytes)" << Qt::endl;
    if (!device.send(Requests::transfer(name, content)))
        return deviceFailed(device, err);

    QByteArray text;
    for (;;) {
        const LinkDevice::Wait wait = device.nextLine(&text, line.timeoutMs);
        if (wait == LinkDevice::Failed)
            return deviceFailed(device, err);
        if (wait == LinkDevice::TimedOut) {
            err << (interactive ? "\n" : "") << "brevctl: no progress report within " << seconds(line.timeoutMs)
                << " s" << Qt::endl;
            return NoAnswer;
        }
        const LinkFormat::Reply reply = LinkFormat::parseReply(text);
        if (reply.id == HostLink::UpdateProgress) {
            const int percent = reply.payload.toInt();
            out << (interactive ? "\r" : "") << LinkFormat::progressBar(percent) << (interactive ? "" : "\n");
            out.flush();
            if (percent >= 100) {
                out << (interactive ? "\n" : "") << "Update installed." << Qt::endl;
                return Success;
            }
        } else if (reply.id == HostLink::UpdateError) {
            const int code = reply.payload.toInt();
            err << (interactive ? "\n" : "") << "brevctl: update failed, error " << code << ": "
                << LinkFormat::errorMeaning(code) << Qt::endl;
            return PrinterError;
        }
    }
}

int runWatch(const CommandLine &line, LinkDevice &device, QTextStream &out, QTextStream &err)
{
    QByteArray text;
    while (device.nextLine(&text, -1) == LinkDevice::GotLine) {
        if (line.verbose || LinkFormat::parseReply(text).id != HostLink::KeepAlive)
            out << LinkFormat::watchLine(QDateTime::currentDateTime(), text) << Qt::endl;
    }
    return deviceFailed(device, err);
}

// Commands that only send: the printer gives no answer to them.
int runSend(const QByteArray &bytes, const QString &what, LinkDevice &device, QTextStream &out, QTextStream &err)
{
    if (!device.send(bytes))
        return deviceFailed(device, err);
    out << what << Qt::endl;
    return Success;
}

} // namespace

int runCommand(const CommandLine &line, QTextStream &out, QTextStream &err, bool interactive)
{
    LinkDevice device;
    if (!device.open(line.device))
        return deviceFailed(device, err);

    if (!Requests::queryItems(line.command).isEmpty())
        return runQuery(line, device, out, err);
    if (line.command == QLatin1String("update"))
        return runUpdate(line, device, out, err, interactive);
    if (line.command == QLatin1String("watch"))
        return runWatch(line, device, out, err);
    if (line.command == QLatin1String("print")) {
        QByteArray content;
        if (!readFile(line.arguments.first(), &content, err))
            return DeviceFailed;
        return runSend(content, QStringLiteral("Sent %1 bytes.").arg(content.size()), device, out, err);
    }
    if (line.command == QLatin1String("set-network"))
        return runSend(Requests::setNetwork(line.arguments), QStringLiteral("Network configuration sent."), device,
                       out, err);
    return runSend(Requests::setShip(line.arguments.first()), QStringLiteral("Ship value sent."), device, out, err);
}
