#include "daemon/brevdaemon.h"

#include "protocol/hostlink.h"
#include "protocol/transferheader.h"
#include "services/servicecall.h"
#include "services/servicecontract.h"

#include <QApt/Package>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr qint64 chunkSize = 256;

// Reads the port for one transfer without ever blocking: a read asks only for
// bytes the device reports waiting (FIONREAD), or follows a poll() that saw
// the port become readable. A host that sends nothing for `silenceMs` ends
// the transfer. Waiting bytes are counted down rather than asked for again,
// since a system call per chunk costs a good part of the transfer rate. A
// device that cannot count its bytes is polled before every read.
class PortReader
{
public:
    static constexpr ssize_t HostSilent = -2;

    PortReader(int socket, int silenceMs)
        : m_socket(socket)
        , m_silenceMs(silenceMs)
    {
        m_sinceBytes.start();
    }

    // At most `wanted` bytes into `chunk`: the count read, -1 when the read
    // fails, or HostSilent.
    ssize_t read(char *chunk, qint64 wanted)
    {
        if (m_waiting == 0)
            m_waiting = bytesWaiting();
        qint64 asked = std::min(wanted, m_waiting);
        if (asked == 0) {
            if (!waitForBytes())
                return HostSilent;
            asked = wanted; // readable without bytes waiting: the read reports why
        }
        const ssize_t count = ::read(m_socket, chunk, size_t(asked));
        if (count > 0) {
            m_waiting = std::max<qint64>(m_waiting - count, 0);
            m_sinceBytes.restart();
        }
        return count;
    }

private:
    qint64 bytesWaiting()
    {
        int count = 0;
        m_countable = m_countable && ::ioctl(m_socket, FIONREAD, &count) == 0;
        return m_countable ? count : 0;
    }

    bool waitForBytes() const
    {
        pollfd watched = {m_socket, POLLIN, 0};
        for (;;) {
            const qint64 patience = m_silenceMs - m_sinceBytes.elapsed();
            if (patience <= 0)
                return false;
            const int ready = ::poll(&watched, 1, int(patience));
            if (ready >= 0 || errno != EINTR)
                return ready > 0;
        }
    }

    const int m_socket;
    const int m_silenceMs;
    qint64 m_waiting = 0;
    bool m_countable = true;
    QElapsedTimer m_sinceBytes;
};

// One update file on its way in: every byte taken as content is hashed and
// written to the file, if one is open. A discarded transfer has no file.
struct IncomingFile
{
    QFile file;
    QCryptographicHash hash{QCryptographicHash::Md5};
    qint64 received = 0;
    bool writeFailed = false;
    bool discarded = false;

    // Returns the count written, -1 when nothing could be.
    qint64 take(const char *bytes, qint64 count)
    {
        const qint64 written = file.isOpen() ? file.write(bytes, count) : -1;
        writeFailed = writeFailed || written < count;
        hash.addData(bytes, int(count));
        received += count;
        return written;
    }
};

// Takes the rest of the file from the port in chunks of at most 256 bytes,
// never more than the file still misses, and lets the event loop run after
// each. `gadgetFd` is the daemon's port descriptor: the events may close the
// port, and then the transfer ends like one whose read failed. Returns false
// when the host went silent.
bool receiveFromPort(IncomingFile &incoming, qint64 size, PortReader &port, const int &gadgetFd,
                     int socket)
{
    char chunk[chunkSize];
    while (incoming.received < size) {
        const ssize_t countCharsRead = port.read(chunk, std::min(size - incoming.received, chunkSize));
        if (countCharsRead == PortReader::HostSilent)
            return false;
        if (countCharsRead < 0) {
            qDebug() << "countCharsRead (write maxSize" << countCharsRead << ")";
            break;
        }
        const qint64 written = incoming.take(chunk, countCharsRead);
        incoming.file.waitForBytesWritten(1000);
        if (written < 1 && !incoming.discarded)
            qDebug() << "Failed to write m_bufferData " << QByteArray(chunk, int(countCharsRead)).constData()
                     << "countCharsRead" << countCharsRead;
        QCoreApplication::processEvents();
        if (gadgetFd != socket) {
            qDebug() << "update transfer ended: the port was closed";
            break;
        }
    }
    return true;
}

} // namespace

void Brevdaemon::startUpdateProgram()
{
    QProcess::startDetached(m_settings.updateProgram, {QStringLiteral("--internal-usb")});
}

// Answers "package version,engine version"; the engine is asked first.
void Brevdaemon::reportSoftwareVersion()
{
    QString engineVersion;
    if (!callForValue(m_engineInterface, Services::Engine::version, engineVersion))
        return;
    const QApt::Package *package = m_backend.package(QStringLiteral("cvipc"));
    if (!package) {
        qDebug() << "failed to obtain software version";
        return;
    }
    queueMessage(HostLink::SoftwareVersion, package->version() + QLatin1Char(',') + engineVersion);
}

// Receives one update file: the header and the first bytes from the buffer,
// the rest straight from the port, then checks the MD5 digest and hands the
// update directory to the installer. The header must be whole in the buffer.
// Whenever the size is known, exactly that many bytes are taken from the
// host, so that the file is never mistaken for commands or print data: a
// refused name or a file that cannot be written is read and dropped.
void Brevdaemon::receiveTransfer(int start, int socket, const ReadPass &pass)
{
    const QByteArray held = QByteArray::fromRawData(m_bufferData + start, pass.total - start);
    const TransferHeader header = parseTransferHeader(held);
    if (header.problem == TransferHeader::Incomplete) {
        qDebug() << "update refused: incomplete transfer header";
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferHeaderRefused));
        return;
    }
    IncomingFile incoming;
    incoming.discarded = header.problem == TransferHeader::BadName;
    if (incoming.discarded) {
        qDebug() << "update refused: bad file name" << header.name;
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferNameRefused));
    } else {
        incoming.file.setFileName(m_settings.updateDir + header.name);
        incoming.file.open(QIODevice::WriteOnly);
    }
    incoming.take(held.constData() + header.contentOffset, held.size() - header.contentOffset);
    PortReader port(socket, m_settings.transferSilenceMs);
    const bool hostStayed = receiveFromPort(incoming, header.size, port, m_gadgetFd, socket);
    incoming.file.close();

    if (incoming.discarded)
        return;
    if (!hostStayed) {
        qDebug() << "update transfer incomplete:" << incoming.received << "of" << header.size << "bytes";
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferIncomplete));
        return;
    }
    if (incoming.writeFailed || incoming.file.error() != QFileDevice::NoError) {
        qDebug() << "update file could not be written:" << incoming.file.fileName();
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferFileUnwritable));
        return;
    }
    const QByteArray digest = incoming.hash.result();
    if (digest == header.digest) {
        m_updateHelper.installLocalUpdate(m_settings.updateDir, true);
        return;
    }
    qDebug().noquote() << "md5 check failed:" << '"' + digest + '"' << '"' + header.digest + '"';
    queueMessage(HostLink::UpdateError, QString::number(HostLink::DigestMismatch, 10));
}

void Brevdaemon::updateProgress(double percent)
{
    queueMessage(HostLink::UpdateProgress, QString::number(percent, 'f', 0));
}

void Brevdaemon::updateError(int error)
{
    queueMessage(HostLink::UpdateError, QString::number(error, 10));
}
