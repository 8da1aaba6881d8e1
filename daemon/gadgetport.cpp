#include "daemon/brevdaemon.h"

#include "daemon/logcategories.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A link planted at the job file's path would have the daemon truncate and
// fill whatever it points to: the link is removed and a file of the daemon's
// own made in its place.
int openJobFile(const QString &path)
{
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
    const int fd = ::open(qPrintable(path), flags, 0070);
    if (fd >= 0 || errno != ELOOP)
        return fd;
    qCWarning(logJobs) << "job file was a symbolic link, replaced:" << path;
    ::unlink(qPrintable(path));
    return ::open(qPrintable(path), flags | O_EXCL, 0070);
}

} // namespace

// Opens the port: a fresh empty job file, the gadget device with its two
// readiness notifiers, and the timers that only make sense while it is open.
// A device that does not open yet is tried again until it does.
void Brevdaemon::initialize()
{
    m_jobEndsSeen = 0;
    m_jobEndsExpected = 0;
    m_jobZValue = 1;
    m_jobWriteFailed = false;
    m_jobFileRoom.reset();

    // A job left unfinished by a queue-complete signal still holds its file.
    if (m_jobFd >= 0)
        ::close(m_jobFd);
    m_jobFd = openJobFile(m_settings.jobFilePath);
    if (m_jobFd < 0) {
        const int error = errno;
        qCCritical(logJobs) << "Error opening outfile:" << error << std::strerror(error);
    }

    m_portRetryTimer.stop();
    m_portRetryDelayMs = m_settings.portRetryMinMs;
    openDevice();
    m_pingTimer.start();
}

// The printer gadget refuses to open until a host has configured it, which
// is the normal state of a printer switched on before its cable is plugged
// in. Non-blocking: a host that stops reading must never hold up the daemon
// in a write.
void Brevdaemon::openDevice()
{
    // O_NOCTTY: a daemon that leads its session must not take a terminal
    // standing in for the device as its controlling terminal.
    m_gadgetFd = ::open(qPrintable(m_settings.gadgetPath), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_gadgetFd < 0) {
        const int error = errno;
        if (!m_portFaulted)
            qCWarning(logPort) << "Error opening gadget:" << error << std::strerror(error);
        // The node is there but the system refuses it (a device policy that
        // does not cover it, wrong permissions): no retry will help until the
        // board is fixed, unlike a gadget not yet configured by a host.
        const bool refused = error == EPERM || error == EACCES;
        if (refused && !m_openRefused)
            qCCritical(logPort) << "Access to gadget denied:" << error << std::strerror(error);
        m_openRefused = refused;
        m_portFaulted = true;
        retryPortLater();
        return;
    }
    portWorks();

    m_readNotifier = new QSocketNotifier(m_gadgetFd, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(m_gadgetFd, QSocketNotifier::Write, this);
    m_readNotifier->setEnabled(true);
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, SIGNAL(activated(int)), this, SLOT(readyRead(int)), Qt::QueuedConnection);
    connect(m_writeNotifier, SIGNAL(activated(int)), this, SLOT(readyWrite(int)), Qt::QueuedConnection);

    if (hasUnsentLines())
        m_batchTimer.start();
}

// Closes the port. The job file, the outbound queue, carried-over input and
// the job counters stay as they are.
void Brevdaemon::uninitialize()
{
    m_pingTimer.stop();
    m_batchTimer.stop();
    m_portRetryTimer.stop();
    closeDevice();
}

void Brevdaemon::closeDevice()
{
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

// A read that failed (`error` is its errno) or found the host end gone (0):
// while the cable is out the gadget reports itself readable without pause and
// every read fails, so reading rests and is tried again later, with one log
// line per outage. The gadget recovers on the same descriptor once the host
// is back.
void Brevdaemon::pauseReading(int error)
{
    if (!m_portFaulted)
        qCWarning(logPort, "Error %d reading from %s\n", error, qPrintable(m_settings.gadgetPath));
    m_portFaulted = true;
    retryPortLater();
}

// The device opened, or a read took bytes: an outage is over.
void Brevdaemon::portWorks()
{
    m_portFaulted = false;
    m_portRetryDelayMs = m_settings.portRetryMinMs;
}

void Brevdaemon::retryPortLater()
{
    m_portRetryTimer.start(m_portRetryDelayMs);
    m_portRetryDelayMs = std::min(m_portRetryDelayMs * 2, m_settings.portRetryMaxMs);
}

// The one retry timer serves both faults: a device that did not open is
// opened again, an open one is read again, or opened afresh when its node
// has been replaced.
// Whether `path` still names the node open as `fd`. A gadget taken down and
// made again gets a new node: the old one's descriptor stays dead for good.
static bool isNodeAtPath(int fd, const QString &path)
{
    struct stat open = {}, named = {};
    return ::fstat(fd, &open) == 0 && ::stat(qPrintable(path), &named) == 0
        && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void Brevdaemon::onPortRetry()
{
    if (m_gadgetFd >= 0 && !isNodeAtPath(m_gadgetFd, m_settings.gadgetPath))
        closeDevice();
    if (m_gadgetFd < 0)
        openDevice();
    else
        setReadEnabled(true);
}
