#include "daemon/brevdaemon.h"

#include "daemon/portwriter.h"
#include "protocol/hostlink.h"
#include "daemon/logcategories.h"

#include <QSocketNotifier>

#include <unistd.h>

namespace {

// Lines waiting for a host that does not read are kept up to this many; past
// it a waiting keep-alive goes first, then the oldest line.
constexpr int queueLimit = 64;

QString keepAlivePayload()
{
    return QStringLiteral("PING");
}

} // namespace

void Brevdaemon::queueMessage(const int &id, const QString &payload)
{
    // The keep-alive only ever goes out on an otherwise quiet link.
    if (id == HostLink::KeepAlive && hasUnsentLines())
        return;
    if (id != HostLink::KeepAlive && !HostLink::outboundPrefix(id))
        qCWarning(logPort) << "queueing unknown message";

    const QString line = HostLink::line(id, payload);
    if (!payload.isEmpty() && !m_writeQueue->contains(line)) {
        if (m_writeQueue->size() == queueLimit)
            dropOneLine();
        m_writeQueue->append(line);
    }
    // Every offer pushes the batch out, so a burst leaves in one write.
    m_batchTimer.start();
}

void Brevdaemon::dropOneLine()
{
    const int keepAlive = m_writeQueue->indexOf(HostLink::line(HostLink::KeepAlive, keepAlivePayload()));
    const QString dropped = m_writeQueue->takeAt(keepAlive >= 0 ? keepAlive : 0);
    if (m_droppedLines++ == 0)
        qCWarning(logPort) << "outbound queue full, the host is not reading; dropped:" << dropped.trimmed();
}

bool Brevdaemon::hasUnsentLines() const
{
    return !m_writeQueue->isEmpty() || !m_unsentText.isEmpty();
}

void Brevdaemon::onPingTimeout()
{
    queueMessage(HostLink::KeepAlive, keepAlivePayload());
}

void Brevdaemon::onBatchTimeout()
{
    m_batchTimer.stop();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(true);
}

// Writes the waiting lines without ever blocking. Bytes the device did not
// take stay for the next batch and go out before any newer line, so the host
// never sees a line cut short; meanwhile new lines wait in the bounded queue.
void Brevdaemon::readyWrite(int socket)
{
    // A call queued before the port closed carries a descriptor that is no
    // longer the port's; its lines wait for the next opening.
    if (!m_writeNotifier)
        return;
    m_writeNotifier->setEnabled(false);

    if (!hasUnsentLines()) {
        qCDebug(logPort) << "Write queue empty, nothing to send.";
        return;
    }
    const auto write = [socket](const char *bytes, qint64 count) {
        return qint64(::write(socket, bytes, size_t(count)));
    };
    do {
        if (m_unsentText.isEmpty()) {
            m_unsentText = m_writeQueue->join(QString()).toLatin1();
            m_writeQueue->clear();
        }
        m_unsentText.remove(0, int(writeAvailable(m_unsentText, write)));
    } while (m_unsentText.isEmpty() && !m_writeQueue->isEmpty());

    if (m_unsentText.isEmpty()) {
        if (m_droppedLines > 0)
            qCInfo(logPort) << "the host reads again;" << m_droppedLines << "lines were dropped";
        m_droppedLines = 0;
    } else {
        m_batchTimer.start();
    }
}
