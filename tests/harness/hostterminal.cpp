#include "hostterminal.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

HostTerminal::~HostTerminal()
{
    close();
}

bool HostTerminal::open(const QString &path)
{
    close();
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    attach(fd);
    return true;
}

void HostTerminal::attach(int fd)
{
    m_fd = fd;
    termios settings;
    ::tcgetattr(m_fd, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(m_fd, TCSANOW, &settings);
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HostTerminal::readAvailable);
}

void HostTerminal::close()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool HostTerminal::send(const QByteArray &bytes)
{
    qint64 sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::write(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (count > 0) {
            sent += count;
        } else if (count < 0 && errno == EAGAIN) {
            waitForRoom();
        } else if (count == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The printer may run in this thread: it reads while this waits in the
// event loop, until the terminal has room again or a while has passed.
void HostTerminal::waitForRoom()
{
    QEventLoop loop;
    QSocketNotifier room(m_fd, QSocketNotifier::Write);
    connect(&room, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
}

void HostTerminal::setReading(bool reading)
{
    if (m_notifier)
        m_notifier->setEnabled(reading);
}

int HostTerminal::unreadByHost() const
{
    int count = 0;
    return ::ioctl(m_fd, FIONREAD, &count) == 0 ? count : 0;
}

int HostTerminal::countLines(const QByteArray &line) const
{
    int count = 0;
    for (const QByteArray &part : m_received.split('\n'))
        if (part + '\n' == line)
            ++count;
    return count;
}

void HostTerminal::readAvailable()
{
    char chunk[4096];
    ssize_t count;
    bool any = false;
    while ((count = ::read(m_fd, chunk, sizeof chunk)) > 0) {
        m_received.append(chunk, int(count));
        any = true;
    }
    if (any)
        emit bytesReceived();
}
