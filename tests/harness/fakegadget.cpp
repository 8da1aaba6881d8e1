#include "fakegadget.h"

#include <poll.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

FakeGadget::FakeGadget()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        if (master >= 0)
            ::close(master);
        return;
    }
    m_slavePath = QString::fromLatin1(::ptsname(master));
    m_slaveKeeper = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    attach(master);
}

FakeGadget::~FakeGadget()
{
    m_stopSending = true;
    waitSent();
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
}

int FakeGadget::unreadByPrinter() const
{
    int count = 0;
    return ::ioctl(m_slaveKeeper, FIONREAD, &count) == 0 ? count : 0;
}

void FakeGadget::sendFromThread(const QByteArray &bytes)
{
    waitSent();
    m_sender = std::thread([this, fd = fd(), bytes] {
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

void FakeGadget::hangUp()
{
    m_stopSending = true;
    waitSent();
    ::close(m_slaveKeeper);
    m_slaveKeeper = -1;
    close();
}

void FakeGadget::hangUpFromThread()
{
    waitSent();
    // The terminal passes written bytes on to the daemon's side a moment
    // later; until this returns, the daemon (in this thread) reads none.
    for (int waitedMs = 0; waitedMs < 10000 && unreadByPrinter() == 0; ++waitedMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_sender = std::thread([this] {
        for (int waitedMs = 0; waitedMs < 30000 && !m_stopSending && unreadByPrinter() > 0; waitedMs += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::ioctl(m_slaveKeeper, TIOCVHANGUP);
    });
}

bool FakeGadget::canHangUpFromThread()
{
    FakeGadget trial;
    return ::ioctl(trial.m_slaveKeeper, TIOCVHANGUP) == 0;
}

void FakeGadget::waitSent()
{
    if (m_sender.joinable())
        m_sender.join();
}
