#include "linkdevice.h"

#include "interruption.h"

#include <QDeadlineTimer>
#include <QFile>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

// "brevctl watch (pid 1234)" for the process holding a lock on the file
// `device` describes, as /proc/locks lists it: "1: FLOCK ADVISORY WRITE
// <pid> <major>:<minor>:<inode> 0 EOF", major and minor in hex.
QString lockHolder(const struct stat &device)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return QStringLiteral("another program");
    const QByteArray file = QByteArray::number(major(device.st_dev), 16)
                                .rightJustified(2, '0')
                            + ':' + QByteArray::number(minor(device.st_dev), 16).rightJustified(2, '0') + ':'
                            + QByteArray::number(qulonglong(device.st_ino));
    for (const QByteArray &entry : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = entry.simplified().split(' ');
        if (fields.size() < 6 || fields.at(1) != "FLOCK" || fields.at(5) != file)
            continue;
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(fields.at(4))));
        commandLine.open(QIODevice::ReadOnly);
        const QString command = QString::fromLocal8Bit(commandLine.readAll().replace('\0', ' ')).trimmed();
        return QStringLiteral("%1 (pid %2)").arg(command, QString::fromLatin1(fields.at(4)));
    }
    return QStringLiteral("another program");
}

} // namespace

LinkDevice::~LinkDevice()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool LinkDevice::fail(const QString &what)
{
    m_error = QStringLiteral("%1 %2: %3").arg(what, m_path, QString::fromLocal8Bit(strerror(errno)));
    return false;
}

LinkDevice::Opening LinkDevice::open(const QString &path)
{
    m_path = path;
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        fail(QStringLiteral("cannot open"));
        return OpenFailed;
    }
    struct stat node;
    if (::fstat(m_fd, &node) != 0 || !S_ISCHR(node.st_mode)) {
        m_error = QStringLiteral("%1 is no character device: give the printer's device node, such as /dev/usb/lp0 "
                                 "(nothing was written)").arg(path);
        return NotADevice;
    }
    if (!lock())
        return OpenFailed;
    termios mode;
    if (tcgetattr(m_fd, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(m_fd, TCSANOW, &mode);
        tcflush(m_fd, TCIFLUSH);
    }
    return Opened;
}

bool LinkDevice::lock()
{
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK)
        return fail(QStringLiteral("cannot lock"));
    struct stat device;
    ::fstat(m_fd, &device);
    m_error = QStringLiteral("%1 is in use by %2").arg(m_path, lockHolder(device));
    return false;
}

LinkDevice::Result LinkDevice::waitFor(short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        if (m_interruptionsSeen != Interruption::count()) {
            m_interruptionsSeen = Interruption::count();
            return Interrupted;
        }
        pollfd device{m_fd, events, 0};
        const int ready = ::poll(&device, 1, deadline.isForever() ? -1 : int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            fail(QStringLiteral("cannot wait for"));
            return Failed;
        }
        return ready == 0 ? TimedOut : Done;
    }
}

LinkDevice::Result LinkDevice::send(const QByteArray &bytes, int stallTimeoutMs,
                                    const std::function<void(qint64)> &progress)
{
    // Pieces small enough that a person sees the transfer move.
    constexpr qint64 piece = 16384;
    m_sent = 0;
    while (m_sent < bytes.size()) {
        const Result room = waitFor(POLLOUT, QDeadlineTimer(stallTimeoutMs));
        if (room != Done)
            return room;
        const ssize_t count = ::write(m_fd, bytes.constData() + m_sent, size_t(std::min(piece, bytes.size() - m_sent)));
        if (count < 0 && errno != EINTR && errno != EAGAIN) {
            fail(QStringLiteral("cannot write to"));
            return Failed;
        }
        m_sent += qMax<ssize_t>(count, 0);
        if (progress && count > 0)
            progress(m_sent);
    }
    return Done;
}

LinkDevice::Result LinkDevice::nextLine(QByteArray *line, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs));
    while (m_lines.isEmpty()) {
        const Result readable = waitFor(POLLIN, deadline);
        if (readable != Done)
            return readable;
        char buffer[1024];
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count == 0) {
            m_error = QStringLiteral("%1 closed the link").arg(m_path);
            return Failed;
        }
        if (count < 0) {
            fail(QStringLiteral("cannot read from"));
            return Failed;
        }
        m_lines += m_splitter.feed(QByteArray(buffer, int(count)));
    }
    *line = m_lines.takeFirst();
    return Done;
}
