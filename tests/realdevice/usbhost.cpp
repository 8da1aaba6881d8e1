#include "usbhost.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

UsbHost::~UsbHost()
{
    close();
}

bool UsbHost::open(const QString &path)
{
    close();
    m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_readNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &UsbHost::readAvailable);
    m_writeNotifier = new QSocketNotifier(m_fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &UsbHost::writePending);
    return true;
}

void UsbHost::close()
{
    // Later: close() may run in a notifier's own slot.
    for (QSocketNotifier *notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pending.clear();
}

void UsbHost::send(const QByteArray &bytes)
{
    m_pending += bytes;
    writePending();
}

void UsbHost::setReading(bool on)
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(on);
}

int UsbHost::countLines(const QByteArray &line) const
{
    int count = 0;
    for (int from = 0; (from = m_received.indexOf(line, from)) >= 0; from += line.size()) {
        if (from == 0 || m_received.at(from - 1) == '\n')
            ++count;
    }
    return count;
}

// usblp takes one buffer per write while the one before is still on its way,
// and refuses with EAGAIN until then.
void UsbHost::writePending()
{
    while (m_fd >= 0 && !m_pending.isEmpty()) {
        const ssize_t count = ::write(m_fd, m_pending.constData(), size_t(m_pending.size()));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        m_pending.remove(0, int(count));
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(m_fd >= 0 && !m_pending.isEmpty());
}

// A device that went away (the cable pulled) fails every read: the host end
// is then closed, as a host's driver drops a vanished printer.
void UsbHost::readAvailable()
{
    char buffer[4096];
    const ssize_t count = ::read(m_fd, buffer, sizeof buffer);
    if (count > 0)
        m_received.append(buffer, int(count));
    else if (count < 0 && errno != EAGAIN && errno != EINTR)
        close();
}
