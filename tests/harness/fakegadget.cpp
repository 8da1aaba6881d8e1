#include "fakegadget.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <poll.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

FakeGadget::FakeGadget()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return;
    // Raw: no CR/LF translation, no signal characters, no echo.
    termios settings;
    ::tcgetattr(m_master, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(m_master, TCSANOW, &settings);
    m_slavePath = QString::fromLatin1(::ptsname(m_master));
    m_slaveKeeper = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FakeGadget::readAvailable);
}

FakeGadget::~FakeGadget()
{
    m_stopSending = true;
    waitSent();
    delete m_notifier;
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    if (m_master >= 0)
        ::close(m_master);
}

bool FakeGadget::send(const QByteArray &bytes)
{
    qint64 sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::write(m_master, bytes.constData() + sent, size_t(bytes.size() - sent));
        if (count < 0 && errno == EAGAIN) {
            // The daemon may run in this thread: let it read.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            continue;
        }
        if (count <= 0)
            return false;
        sent += count;
    }
    return true;
}

void FakeGadget::sendFromThread(const QByteArray &bytes)
{
    waitSent();
    m_sender = std::thread([this, fd = m_master, bytes] {
        qint64 sent = 0;
        while (sent < bytes.size() && !m_stopSending) {
            const ssize_t count = ::write(fd, bytes.constData() + sent, size_t(bytes.size() - sent));
            if (count > 0) {
                sent += count;
            } else if (count < 0 && errno == EAGAIN) {
                pollfd writable = {fd, POLLOUT, 0};
                ::poll(&writable, 1, 100);
            } else {
                return;
            }
        }
    });
}

void FakeGadget::setReading(bool reading)
{
    m_notifier->setEnabled(reading);
}

void FakeGadget::hangUp()
{
    m_stopSending = true;
    waitSent();
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_slaveKeeper);
    ::close(m_master);
    m_slaveKeeper = m_master = -1;
}

void FakeGadget::hangUpFromThread()
{
    waitSent();
    // The terminal passes written bytes on to the daemon's side a moment
    // later; until this returns, the daemon (in this thread) reads none.
    const auto unread = [this] {
        int count = 0;
        return ::ioctl(m_slaveKeeper, FIONREAD, &count) == 0 ? count : 0;
    };
    for (int waitedMs = 0; waitedMs < 10000 && unread() == 0; ++waitedMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_sender = std::thread([this, unread] {
        for (int waitedMs = 0; waitedMs < 30000 && !m_stopSending && unread() > 0; waitedMs += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::ioctl(m_slaveKeeper, TIOCVHANGUP);
    });
}

void FakeGadget::waitSent()
{
    if (m_sender.joinable())
        m_sender.join();
}

int FakeGadget::countLines(const QByteArray &line) const
{
    int count = 0;
    for (const QByteArray &part : m_received.split('\n'))
        if (part + '\n' == line)
            ++count;
    return count;
}

void FakeGadget::readAvailable()
{
    char chunk[4096];
    ssize_t count;
    bool any = false;
    while ((count = ::read(m_master, chunk, sizeof chunk)) > 0) {
        m_received.append(chunk, int(count));
        any = true;
    }
    if (any)
        emit bytesReceived();
}
