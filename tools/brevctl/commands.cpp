#include "commands.h"

#include "commandtable.h"
#include "linkdevice.h"
#include "linkformat.h"
#include "packagecheck.h"
#include "printjobs.h"
#include "protocol/hostlink.h"
#include "requests.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QSet>

#include <cstdio>

namespace {

// The printer asks again for the version and status this often while it
// does not read: a query that arrives with a job's end is dropped or kept
// for later, so one alone may never be answered.
constexpr int probeIntervalMs = 3000;
// The printer answers a query about 1 s after it; answers to queries sent
// while it did not read all come in that time once it reads again.
constexpr int answerBatchMs = 1500;
// The printer gives up an update file after this much silence on the link.
constexpr int transferSilenceMs = 10000;
constexpr int transferSilenceMarginMs = 5000;

QString seconds(qint64 milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'g', 3);
}

int deviceFailed(const LinkDevice &device, Console &console)
{
    console.err << "brevctl: " << device.errorText() << Qt::endl;
    return DeviceFailed;
}

// The exit status of a send or wait that did not end in Done, saying why.
int linkProblem(LinkDevice::Result result, const LinkDevice &device, Console &console, const QString &timedOut)
{
    switch (result) {
    case LinkDevice::Failed: return deviceFailed(device, console);
    case LinkDevice::TimedOut: console.err << "brevctl: " << timedOut << Qt::endl; return NoAnswer;
    case LinkDevice::Interrupted: console.err << "brevctl: interrupted" << Qt::endl; return Interrupted;
    case LinkDevice::Done: break;
    }
    return Success;
}

// A file's content, or standard input's for "-".
bool readInput(const QString &path, QByteArray *content, Console &console)
{
    QFile file(path);
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : file.open(QIODevice::ReadOnly);
    if (!opened) {
        console.err << "brevctl: cannot read " << path << ": " << file.errorString() << Qt::endl;
        return false;
    }
    *content = file.readAll();
    return true;
}

// A line that replaces the one before it for a person, or stands on its own
// in a log; none with -q.
void showProgress(const CommandLine &line, Console &console, const QString &text)
{
    if (line.quiet)
        return;
    console.err << (console.interactive ? "\r" : "") << text << (console.interactive ? "\x1b[K" : "\n");
    console.err.flush();
}

// Ends a line of progress drawn in place before anything else is written.
void endProgress(const CommandLine &line, Console &console)
{
    if (console.interactive && !line.quiet)
        console.err << "\n";
}

void tell(const CommandLine &line, Console &console, const QString &text)
{
    if (!line.quiet)
        console.out << text << Qt::endl;
}

// Sends, showing the bytes sent and the rate: in place for a person, every
// quarter in a log; nothing for a piece too small to take a while.
LinkDevice::Result sendShowing(const QByteArray &bytes, const QString &what, const CommandLine &line,
                               LinkDevice &device, Console &console)
{
    constexpr int smallestShown = 65536;
    QElapsedTimer clock;
    clock.start();
    int shownQuarter = -1;
    const LinkDevice::Result result = device.send(bytes, line.timeoutMs, [&](qint64 done) {
        const int quarter = int(4 * done / bytes.size());
        if (bytes.size() < smallestShown || (!console.interactive && quarter == shownQuarter))
            return;
        shownQuarter = quarter;
        showProgress(line, console, LinkFormat::transferText(what, done, bytes.size(), clock.elapsed()));
    });
    if (bytes.size() >= smallestShown)
        endProgress(line, console);
    return result;
}

// Waits until the printer reads the link again, shown by an answer to the
// probe sent after what went before.
LinkDevice::Result awaitReading(const CommandLine &line, LinkDevice &device)
{
    const QDeadlineTimer deadline(line.timeoutMs);
    QByteArray text;
    for (;;) {
        const LinkDevice::Result sent = device.send(Requests::readingProbe(), int(deadline.remainingTime()));
        if (sent != LinkDevice::Done)
            return sent;
        const QDeadlineTimer nextProbe(qMin<qint64>(probeIntervalMs, deadline.remainingTime()));
        LinkDevice::Result got;
        while ((got = device.nextLine(&text, int(nextProbe.remainingTime()))) == LinkDevice::Done) {
            const int id = LinkFormat::parseReply(text).id;
            if (id == HostLink::SoftwareVersion || id == HostLink::PrinterStatus)
                return LinkDevice::Done;
        }
        if (got != LinkDevice::TimedOut || deadline.hasExpired())
            return got;
    }
}

// Takes the answers to earlier probes off the link, so that the next wait
// sees only answers to its own.
LinkDevice::Result dropLateAnswers(LinkDevice &device)
{
    QByteArray text;
    LinkDevice::Result got;
    while ((got = device.nextLine(&text, answerBatchMs)) == LinkDevice::Done) {
    }
    return got == LinkDevice::TimedOut ? LinkDevice::Done : got;
}

QString jobName(int index, int count)
{
    return count == 1 ? QStringLiteral("the job") : QStringLiteral("job %1 of %2").arg(index + 1).arg(count);
}

// Sends one job and waits until the printer has printed it and reads again.
int printJob(const QList<QByteArray> &jobs, int index, const CommandLine &line, LinkDevice &device,
             Console &console)
{
    const QString name = jobName(index, jobs.size());
    const QByteArray &job = jobs.at(index);
    LinkDevice::Result result = sendShowing(job, name, line, device, console);
    if (result != LinkDevice::Done) {
        return linkProblem(result, device, console,
                           QStringLiteral("the printer took no data for %1 s: %2 was sent in part (%3 of %4 bytes), "
                                          "the jobs after it not at all")
                               .arg(seconds(line.timeoutMs), name)
                               .arg(device.sentCount())
                               .arg(job.size()));
    }
    showProgress(line, console, QStringLiteral("Sent %1 (%2 bytes); waiting for the printer to read again")
                                    .arg(name).arg(job.size()));
    endProgress(line, console);
    result = awaitReading(line, device);
    if (result != LinkDevice::Done) {
        return linkProblem(result, device, console,
                           QStringLiteral("%1 was sent, but the printer did not read again within %2 s (it reads "
                                          "once it has printed the job)%3")
                               .arg(name, seconds(line.timeoutMs),
                                    index + 1 < jobs.size() ? QStringLiteral("; the jobs after it were not sent")
                                                            : QString()));
    }
    return Success;
}

// After an update was cut short: the printer takes what comes next as file
// data until the link has been silent for a while, so the device stays
// held until it reports giving up.
void awaitTransferGivenUp(const QByteArray &transfer, LinkDevice &device, Console &console)
{
    QElapsedTimer silence;
    silence.start();
    const int boundMs = transferSilenceMs + transferSilenceMarginMs;
    console.err << "\nbrevctl: interrupted after " << device.sentCount() << " of " << transfer.size()
                << " bytes. The printer takes what comes next as part of the file until the link has been silent "
                   "for "
                << seconds(transferSilenceMs) << " s: holding the device until it gives up (up to "
                << seconds(boundMs) << " s; Ctrl-C again to leave now)." << Qt::endl;
    QByteArray text;
    for (;;) {
        const LinkDevice::Result got = device.nextLine(&text, int(qMax<qint64>(0, boundMs - silence.elapsed())));
        if (got == LinkDevice::Done && LinkFormat::parseReply(text).id != HostLink::UpdateError)
            continue;
        if (got == LinkDevice::Done)
            console.err << "brevctl: the printer gave up the file; nothing was installed." << Qt::endl;
        else if (got == LinkDevice::Interrupted)
            console.err << "brevctl: left early: wait "
                        << seconds(qMax<qint64>(0, transferSilenceMs - silence.elapsed()) + 1000)
                        << " s before the next command, or the printer takes it as part of the file." << Qt::endl;
        else
            console.err << "brevctl: the printer did not say it gave up the file; it should have by now."
                        << Qt::endl;
        return;
    }
}

// Follows the installation until it completes or fails.
int followInstallation(const CommandLine &line, LinkDevice &device, Console &console)
{
    QByteArray text;
    for (;;) {
        const LinkDevice::Result got = device.nextLine(&text, line.timeoutMs);
        if (got != LinkDevice::Done) {
            endProgress(line, console);
            return linkProblem(got, device, console,
                               QStringLiteral("no progress report within %1 s").arg(seconds(line.timeoutMs)));
        }
        const LinkFormat::Reply reply = LinkFormat::parseReply(text);
        if (reply.id == HostLink::UpdateProgress) {
            const int percent = reply.payload.toInt();
            showProgress(line, console, LinkFormat::progressBar(percent));
            if (percent >= 100) {
                endProgress(line, console);
                tell(line, console, QStringLiteral("Update installed."));
                return Success;
            }
        } else if (reply.id == HostLink::UpdateError) {
            const int code = reply.payload.toInt();
            endProgress(line, console);
            console.err << "brevctl: update failed, error " << code << ": " << LinkFormat::errorText(code)
                        << Qt::endl;
            return PrinterError;
        }
    }
}

} // namespace

bool showsValues(const Command &command)
{
    return !command.queryItems.isEmpty() || command.run == runWatch;
}

int runCommand(const CommandLine &line, Console &console)
{
    LinkDevice device;
    switch (device.open(line.device)) {
    case LinkDevice::Opened: return line.command->run(line, device, console);
    case LinkDevice::NotADevice: console.err << "brevctl: " << device.errorText() << Qt::endl; return NotADevice;
    case LinkDevice::OpenFailed: break;
    }
    return deviceFailed(device, console);
}

int runQuery(const CommandLine &line, LinkDevice &device, Console &console)
{
    const QList<Requests::QueryItem> &items = line.command->queryItems;
    QSet<int> awaited;
    for (const Requests::QueryItem &item : items)
        awaited.insert(item.replyId);
    const LinkDevice::Result sent = device.send(Requests::queryBytes(items), line.timeoutMs);
    if (sent != LinkDevice::Done)
        return linkProblem(sent, device, console,
                           QStringLiteral("%1 took no data within %2 s").arg(line.device, seconds(line.timeoutMs)));

    QHash<int, QString> answers;
    const QDeadlineTimer deadline(line.timeoutMs);
    QByteArray text;
    while (answers.size() < awaited.size()) {
        const LinkDevice::Result got = device.nextLine(&text, int(deadline.remainingTime()));
        if (got == LinkDevice::TimedOut)
            break;
        if (got != LinkDevice::Done)
            return linkProblem(got, device, console, {});
        const LinkFormat::Reply reply = LinkFormat::parseReply(text);
        if (awaited.contains(reply.id))
            answers.insert(reply.id, reply.payload);
    }
    if (answers.isEmpty()) {
        console.err << "brevctl: no answer from " << line.device << " within " << seconds(line.timeoutMs) << " s"
                    << Qt::endl;
        return NoAnswer;
    }
    if (line.json)
        console.out << QJsonDocument(Requests::answerJson(items, answers)).toJson(QJsonDocument::Compact)
                    << Qt::endl;
    else
        console.out << Requests::answerText(items, answers) << Qt::endl;
    if (answers.size() == awaited.size())
        return Success;
    console.err << "brevctl: " << awaited.size() - answers.size() << " of " << awaited.size()
                << " values got no answer within " << seconds(line.timeoutMs) << " s" << Qt::endl;
    return NoAnswer;
}

int runPrint(const CommandLine &line, LinkDevice &device, Console &console)
{
    const QString path = line.arguments.first();
    QByteArray content;
    if (!readInput(path, &content, console))
        return DeviceFailed;
    if (line.raw) {
        const LinkDevice::Result sent = sendShowing(content, path, line, device, console);
        if (sent != LinkDevice::Done)
            return linkProblem(sent, device, console,
                               QStringLiteral("the printer took no data for %1 s (%2 of %3 bytes sent)")
                                   .arg(seconds(line.timeoutMs))
                                   .arg(device.sentCount())
                                   .arg(content.size()));
        tell(line, console, QStringLiteral("Sent %1 bytes as they are.").arg(content.size()));
        return Success;
    }
    const PrintJobs::Split split = PrintJobs::split(content);
    if (!split.problem.isEmpty()) {
        console.err << "brevctl: " << (path == QLatin1String("-") ? QStringLiteral("standard input") : path)
                    << " is not whole print jobs: " << split.problem
                    << ".\nNothing was sent; --raw sends it as it is. See brevctl print --help." << Qt::endl;
        return BadArguments;
    }
    for (int index = 0; index < split.jobs.size(); ++index) {
        if (index > 0) {
            const LinkDevice::Result dropped = dropLateAnswers(device);
            if (dropped != LinkDevice::Done)
                return linkProblem(dropped, device, console, {});
        }
        const int status = printJob(split.jobs, index, line, device, console);
        if (status != Success)
            return status;
    }
    tell(line, console, QStringLiteral("Printed %1 (%2 bytes); the printer reads again.")
                            .arg(split.jobs.size() == 1 ? QStringLiteral("1 job")
                                                        : QStringLiteral("%1 jobs").arg(split.jobs.size()))
                            .arg(content.size()));
    return Success;
}

int runUpdate(const CommandLine &line, LinkDevice &device, Console &console)
{
    QByteArray content;
    if (!readInput(line.arguments.first(), &content, console))
        return DeviceFailed;
    const QString problem = packageProblem(line.arguments.first(), content);
    if (!problem.isEmpty()) {
        console.err << "brevctl: " << problem << "\nNothing was sent." << Qt::endl;
        return BadArguments;
    }
    const QString name = QFileInfo(line.arguments.first()).fileName();
    const QByteArray transfer = Requests::transfer(name, content);
    const LinkDevice::Result sent = sendShowing(transfer, name, line, device, console);
    if (sent == LinkDevice::Interrupted) {
        awaitTransferGivenUp(transfer, device, console);
        return Interrupted;
    }
    if (sent != LinkDevice::Done)
        return linkProblem(sent, device, console,
                           QStringLiteral("the printer took no data for %1 s (%2 of %3 bytes sent); it gives the "
                                          "file up after %4 s of silence")
                               .arg(seconds(line.timeoutMs))
                               .arg(device.sentCount())
                               .arg(transfer.size())
                               .arg(seconds(transferSilenceMs)));
    return followInstallation(line, device, console);
}

int runSetNetwork(const CommandLine &line, LinkDevice &device, Console &console)
{
    const QList<Requests::QueryItem> &query = findCommand(QStringLiteral("network"))->queryItems;
    const LinkDevice::Result sent =
        device.send(Requests::setNetwork(line.arguments) + Requests::queryBytes(query), line.timeoutMs);
    if (sent != LinkDevice::Done)
        return linkProblem(sent, device, console,
                           QStringLiteral("%1 took no data within %2 s").arg(line.device, seconds(line.timeoutMs)));
    const QDeadlineTimer deadline(line.timeoutMs);
    QByteArray text;
    for (;;) {
        const LinkDevice::Result got = device.nextLine(&text, int(deadline.remainingTime()));
        if (got != LinkDevice::Done)
            return linkProblem(got, device, console,
                               QStringLiteral("network configuration sent, but not confirmed: the printer did not "
                                              "report its configuration within %1 s")
                                   .arg(seconds(line.timeoutMs)));
        const LinkFormat::Reply reply = LinkFormat::parseReply(text);
        if (reply.id == HostLink::UpdateError) {
            console.err << "brevctl: the printer refused the configuration: " << LinkFormat::errorText(reply.payload.toInt())
                        << Qt::endl;
            return PrinterError;
        }
        if (reply.id != HostLink::EthernetConfig)
            continue;
        const QStringList reported = reply.payload.split(QLatin1Char(',')).mid(0, 4);
        QStringList expected = line.arguments;
        expected[0] = QString::number(expected.first().toInt());
        if (reported != expected) {
            console.err << "brevctl: the printer reports another configuration than was sent:\n"
                        << LinkFormat::networkText(reply.payload) << Qt::endl;
            return PrinterError;
        }
        tell(line, console, QStringLiteral("Confirmed: the printer reports the configuration sent.\n")
                                + LinkFormat::networkText(reply.payload));
        return Success;
    }
}

int runSetShip(const CommandLine &line, LinkDevice &device, Console &console)
{
    const QString value = QString::number(line.arguments.first().toInt());
    LinkDevice::Result result = device.send(Requests::setShip(value), line.timeoutMs);
    if (result == LinkDevice::Done)
        result = awaitReading(line, device);
    if (result != LinkDevice::Done)
        return linkProblem(result, device, console,
                           QStringLiteral("ship value not confirmed: the printer did not answer within %1 s")
                               .arg(seconds(line.timeoutMs)));
    tell(line, console,
         QStringLiteral("Ship value %1 read by the printer (it does not report the value back).").arg(value));
    return Success;
}

int runWatch(const CommandLine &line, LinkDevice &device, Console &console)
{
    QByteArray text;
    LinkDevice::Result got;
    while ((got = device.nextLine(&text, -1)) == LinkDevice::Done) {
        if (!line.verbose && LinkFormat::parseReply(text).id == HostLink::KeepAlive)
            continue;
        const QDateTime now = QDateTime::currentDateTime();
        if (line.json)
            console.out << LinkFormat::watchJson(now, text) << Qt::endl;
        else
            console.out << LinkFormat::watchLine(now, text) << Qt::endl;
    }
    return got == LinkDevice::Interrupted ? Success : linkProblem(got, device, console, {});
}
