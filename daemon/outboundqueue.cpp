#include "daemon/brevdaemon.h"

#include "daemon/portwriter.h"
#include "protocol/hostlink.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

void Brevdaemon::queueMessage(const int &id, const QString &payload)
{
    // The keep-alive only ever goes into an empty queue.
    if (id == HostLink::KeepAlive && !m_writeQueue->isEmpty())
        return;
    if (id != HostLink::KeepAlive && !HostLink::outboundPrefix(id))
        qDebug() << "queueing unknown message";

    const QString line = HostLink::line(id, payload);
    if (!payload.isEmpty() && !m_writeQueue->contains(line))
        m_writeQueue->append(line);
    // Every offer pushes the batch out, so a burst leaves in one write.
    m_batchTimer.start();
}

void Brevdaemon::onPingTimeout()
{
    queueMessage(HostLink::KeepAlive, QStringLiteral("PING"));
}

void Brevdaemon::onBatchTimeout()
{
    m_batchTimer.stop();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(true);
}

void Brevdaemon::readyWrite(int socket)
{
    // A call queued before the port closed carries a descriptor that is no
    // longer the port's; its lines wait for the next opening.
    if (!m_writeNotifier)
        return;
    m_writeNotifier->setEnabled(false);

    if (m_writeQueue->isEmpty()) {
        static const char empty[] = "Write queue empty, nothing to send.\n";
        std::fwrite(empty, 1, sizeof empty - 1, stderr);
        return;
    }
    const QByteArray text = m_writeQueue->join(QString()).toLatin1();
    m_writeQueue->clear();
    writeWithRetries(text, [socket](const char *bytes, qint64 count) {
        return qint64(::write(socket, bytes, size_t(count)));
    });
}
