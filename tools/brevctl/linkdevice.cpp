#include "linkdevice.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

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

bool LinkDevice::open(const QString &path)
{
    m_path = path;
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return fail(QStringLiteral("cannot open"));
    termios mode;
    if (tcgetattr(m_fd, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(m_fd, TCSANOW, &mode);
        tcflush(m_fd, TCIFLUSH);
    }
    return true;
}

bool LinkDevice::send(const QByteArray &bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(m_fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno != EINTR)
            return fail(QStringLiteral("cannot write to"));
        written += qMax<ssize_t>(count, 0);
    }
    return true;
}

LinkDevice::Wait LinkDevice::nextLine(QByteArray *line, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(timeoutMs));
    while (m_lines.isEmpty()) {
        pollfd readable{m_fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, deadline.isForever() ? -1 : int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            fail(QStringLiteral("cannot wait for"));
            return Failed;
        }
        if (ready == 0)
            return TimedOut;
        char buffer[1024];
        const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
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
    return GotLine;
}
