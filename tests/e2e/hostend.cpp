#include "hostend.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

HostEnd::~HostEnd()
{
    close();
}

bool HostEnd::open(const QString &path)
{
    close();
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios settings;
    ::tcgetattr(m_fd, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(m_fd, TCSANOW, &settings);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HostEnd::readAvailable);
    return true;
}

void HostEnd::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool HostEnd::send(const QByteArray &bytes)
{
    qint64 sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::write(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        sent += count;
    }
    return true;
}

int HostEnd::countLines(const QByteArray &line) const
{
    int count = 0;
    for (int from = 0; (from = m_received.indexOf(line, from)) >= 0; from += line.size()) {
        if (from == 0 || m_received.at(from - 1) == '\n')
            ++count;
    }
    return count;
}

void HostEnd::readAvailable()
{
    char buffer[4096];
    const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
    if (count > 0)
        m_received.append(buffer, int(count));
}
