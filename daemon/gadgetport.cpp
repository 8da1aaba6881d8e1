#include "daemon/brevdaemon.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

// Opens the port: the gadget device, a fresh empty job file, the two
// readiness notifiers, and the timers that only make sense while it is open.
void Brevdaemon::initialize()
{
    m_jobEndsSeen = 0;
    m_jobEndsExpected = 0;
    m_jobZValue = 1;

    // O_NOCTTY: a daemon that leads its session must not take a terminal
    // standing in for the device as its controlling terminal.
    m_gadgetFd = ::open(qPrintable(m_settings.gadgetPath), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_gadgetFd < 0)
        qDebug() << "Error opening gadget:" << errno;

    // A job left unfinished by a queue-complete signal still holds its file.
    if (m_jobFd >= 0)
        ::close(m_jobFd);
    m_jobFd = ::open(qPrintable(m_settings.jobFilePath), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0070);
    if (m_jobFd < 0)
        qDebug() << "Error opening outfile:" << errno;

    // A device that did not open gets no notifiers: the port stays dead, lines
    // stay queued, and the next restart cycle tries the device again.
    if (m_gadgetFd >= 0) {
        m_readNotifier = new QSocketNotifier(m_gadgetFd, QSocketNotifier::Read, this);
        m_writeNotifier = new QSocketNotifier(m_gadgetFd, QSocketNotifier::Write, this);
        m_readNotifier->setEnabled(true);
        m_writeNotifier->setEnabled(false);
        connect(m_readNotifier, &QSocketNotifier::activated, this, &Brevdaemon::readyRead,
                Qt::QueuedConnection);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, &Brevdaemon::readyWrite,
                Qt::QueuedConnection);
    }

    if (!m_writeQueue->isEmpty())
        m_batchTimer.start();
    m_pingTimer.start();
}

// Closes the port. The job file, the outbound queue, carried-over input and
// the job counters stay as they are.
void Brevdaemon::uninitialize()
{
    m_pingTimer.stop();
    m_batchTimer.stop();
    delete m_readNotifier;
    delete m_writeNotifier;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    if (m_gadgetFd >= 0)
        ::close(m_gadgetFd);
    m_gadgetFd = -1;
}

void Brevdaemon::setReadEnabled(bool enabled)
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(enabled);
}
