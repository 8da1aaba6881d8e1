#include "daemon/brevdaemon.h"

#include "protocol/hostlink.h"
#include "daemon/logcategories.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int bufferSize = 1024;
constexpr int readLimit = bufferSize - 1; // a zero byte always fits after the data

} // namespace

// Reads one block from the host, runs the commands found in it and spools the
// print data around them into the job file.
void Brevdaemon::readyRead(int socket)
{
    // A call queued before the port closed must not read a descriptor that
    // may since belong to something else.
    if (!m_readNotifier)
        return;
    setReadEnabled(false);

    const ssize_t count = ::read(socket, m_bufferData + m_bufferUsed, size_t(readLimit - m_bufferUsed));
    // The buffer ends up as if it had been cleared before the read: zero from
    // the last byte read on. Clearing only those bytes spares a clear of the
    // whole buffer on every full read.
    const int filled = m_bufferUsed + int(std::max<ssize_t>(count, 0));
    if (filled < readLimit)
        std::memset(m_bufferData + filled, 0, size_t(readLimit - filled));
    if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
        setReadEnabled(true);
        return;
    }
    if (count <= 0) {
        // Reported readable but nothing to read: the host end failed or hung up.
        if (count < 0)
            m_lastReadCount = 0;
        pauseReading(count < 0 ? errno : 0);
        refuseUnfinishedLine();
        return;
    }
    portWorks();
    m_silentServices.clear();
    m_lastReadCount = int(count);

    ReadPass pass;
    pass.total = m_bufferUsed + m_lastReadCount;
    if (pass.total > bufferSize) {
        qCWarning(logPort) << "Read exceeds buffer space";
        setReadEnabled(true);
        return;
    }
    m_bufferData[pass.total] = 0;

    m_parsedView.setRawData(m_bufferData, uint(pass.total));
    QVector<ParseMatch> matches = m_parser.parse(m_parsedView);
    m_unfinishedLine = 0;
    for (int i = 0; i < matches.size(); ++i) {
        if (lineStillArriving(matches[i], pass.total)) {
            // Carried over like a command whose bytes have not all come.
            m_unfinishedLine = matches[i].id;
            const int start = matches[i].start;
            matches.resize(i);
            matches.append({ParseMatch::Partial, start, pass.total - 1, pass.total - start});
            break;
        }
        dispatch(matches[i], matches, pass);
        if (pass.jobSubmitted)
            break;
    }
    if (!pass.jobSubmitted)
        keepTail(matches, pass);

    if (m_bufferUsed == readLimit)
        qCWarning(logCommands) << "buffer is full, cannot read from port again";
    if (!pass.jobSubmitted)
        setReadEnabled(true);
}

void Brevdaemon::dispatch(const ParseMatch &match, const QVector<ParseMatch> &matches, ReadPass &pass)
{
    if (match.id != ParseMatch::Partial)
        qCDebug(logCommands) << "host command" << match.id;
    switch (match.id) {
    case HostLink::JobEndCount:
        onJobEndCountMarker(match, pass);
        break;
    case HostLink::JobZ:
        onJobZMarker(match, pass);
        break;
    case HostLink::JobEndMarker:
        onJobEndMarker(match, matches, pass);
        break;
    case HostLink::StartUpdater:
        startUpdateProgram();
        break;
    case HostLink::SoftwareVersion:
        reportSoftwareVersion();
        break;
    case HostLink::Transfer:
        receiveTransfer(match.start, m_gadgetFd, pass);
        break;
    case HostLink::SetEthernetConfig:
        applyEthernetConfig(match.start, pass);
        break;
    case HostLink::EthernetConfig:
        requestEthernetConfig();
        break;
    case HostLink::SetShip:
        applyShip(match.start, pass);
        break;
    default:
        answerQuery(match.id);
        break;
    }
}

// "^XFER", "^SETETHCONF" and "^SETCVSHIP" take their arguments from the rest
// of their line. A line that a read cut short waits for the next read, as
// long as the buffer has room for more of it; one that fills the buffer
// without ending is handed to its command, which refuses it.
bool Brevdaemon::lineStillArriving(const ParseMatch &match, int total) const
{
    const char *rest = m_bufferData + match.end + 1;
    const size_t restSize = size_t(total - match.end - 1);
    switch (match.id) {
    case HostLink::Transfer:
        // The header ends at its line feed; the file's bytes follow.
        if (std::memchr(rest, '\n', restSize))
            return false;
        break;
    case HostLink::SetEthernetConfig:
    case HostLink::SetShip:
        // The last field ends at a carriage return; a line feed alone ends a
        // line that lacks it.
        if (std::memchr(rest, '\r', restSize) || std::memchr(rest, '\n', restSize))
            return false;
        break;
    default:
        return false;
    }
    return total - match.start < readLimit;
}

// When the link fails while a line waits for its end, the host that sent it
// is gone: its command refuses it, as one that could not end, and the bytes
// are dropped.
void Brevdaemon::refuseUnfinishedLine()
{
    if (!m_unfinishedLine)
        return;
    ReadPass pass;
    pass.total = m_bufferUsed;
    const ParseMatch line{m_unfinishedLine, 0, 0, 0};
    dispatch(line, {line}, pass);
    m_unfinishedLine = 0;
    m_bufferUsed = 0;
}

// Appends the print data that no job marker took along, and carries an
// incomplete command over to the next read.
//
// A job marker appends everything before it, other commands included. Past
// the last marker, only the print data around the commands goes to the job
// file, not the commands' own bytes: a query in the middle of a job loses
// none of the job's data, and a read that holds only queries adds nothing.
// What follows the last command (the arguments of "^XFER", "^SETETHCONF" and
// "^SETCVSHIP" among it) is print data too.
void Brevdaemon::keepTail(const QVector<ParseMatch> &matches, const ReadPass &pass)
{
    // Job markers have appended everything up to the write position.
    int from = pass.writePosition;
    for (const ParseMatch &match : matches) {
        if (match.start < from)
            continue;
        appendToJob(m_bufferData + from, match.start - from);
        from = match.end + 1;
    }
    appendToJob(m_bufferData + from, pass.total - from);

    if (!matches.isEmpty() && matches.last().id == ParseMatch::Partial)
        carryOver(matches.last().start, pass.total);
    else
        m_bufferUsed = 0;
}

// Writes every byte, as long as the job file takes them and its file system
// keeps its reserve. Once the job file takes no more, the rest of the job is
// dropped, and the reason is logged once per job file.
void Brevdaemon::appendToJob(const char *bytes, int count)
{
    if (m_jobWriteFailed)
        return;
    if (!m_jobFileRoom.take(m_jobFd, count)) {
        qCWarning(logJobs) << "job file system down to its reserve of" << m_jobFileRoom.reserve()
                           << "bytes: the rest of the job is dropped";
        m_jobWriteFailed = true;
        return;
    }
    while (count > 0) {
        const ssize_t written = ::write(m_jobFd, bytes, size_t(count));
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            qCWarning(logJobs) << "write error" << error << std::strerror(error);
            m_jobWriteFailed = true;
            return;
        }
        bytes += written;
        count -= int(written);
    }
}

// Moves the bytes from `from` to `total` - 1 to the start of the buffer, to
// be parsed again with the next read.
void Brevdaemon::carryOver(int from, int total)
{
    m_bufferUsed = total - from;
    std::memmove(m_bufferData, m_bufferData + from, size_t(m_bufferUsed));
    m_bufferData[m_bufferUsed] = 0;
}
