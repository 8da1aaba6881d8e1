#include "protocol/portreader.h"

#include "daemon/logcategories.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr qint64 chunkSize = 256;

} // namespace

PortReader::PortReader(int socket, int silenceMs)
    : m_socket(socket)
    , m_silenceMs(silenceMs)
{
    m_sinceBytes.start();
}

ssize_t PortReader::read(char *chunk, qint64 wanted)
{
    for (;;) {
        const ssize_t count = ::read(m_socket, chunk, size_t(wanted));
        if (count > 0) {
            m_silenceStarts = true;
            return count;
        }
        // Nothing waiting is no fault; end of file or an error is.
        if (count < 0 && errno == EAGAIN) {
            if (!waitForBytes())
                return HostSilent;
        } else if (count == 0 || errno != EINTR) {
            return PortFailed;
        }
    }
}

// Waits until the port is readable, at most until the host has been silent
// for the bound. The silence starts with the first wait after the last bytes
// (a clock read per chunk would cost more than the chunk's read), so time the
// daemon spent on other work is no silence of the host's, and the port is
// polled at least once.
bool PortReader::waitForBytes()
{
    if (m_silenceStarts) {
        m_sinceBytes.restart();
        m_silenceStarts = false;
    }
    pollfd watched = {m_socket, POLLIN, 0};
    for (;;) {
        const qint64 patience = std::max<qint64>(m_silenceMs - m_sinceBytes.elapsed(), 0);
        const int ready = ::poll(&watched, 1, int(patience));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

void IncomingFile::take(const char *bytes, qint64 count)
{
    const qint64 written = file.isOpen() ? file.write(bytes, count) : -1;
    writeFailed = writeFailed || written < count;
    hash.addData(bytes, int(count));
    received += count;
}

TransferEnd receiveFromPort(IncomingFile &incoming, qint64 size, PortReader &port,
                            const std::function<bool()> &portStillOpen)
{
    char chunk[chunkSize];
    while (incoming.received < size) {
        const ssize_t countCharsRead = port.read(chunk, std::min(size - incoming.received, chunkSize));
        if (countCharsRead == PortReader::HostSilent)
            return TransferEnd::HostSilent;
        if (countCharsRead == PortReader::PortFailed) {
            qCWarning(logUpdate) << "countCharsRead (write maxSize" << countCharsRead << ")";
            return TransferEnd::PortFailed;
        }
        incoming.take(chunk, countCharsRead);
        incoming.file.waitForBytesWritten(1000);
        QCoreApplication::processEvents();
        if (!portStillOpen())
            return TransferEnd::PortClosed;
    }
    return TransferEnd::Complete;
}
