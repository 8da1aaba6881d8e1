#include "daemon/brevdaemon.h"

#include "protocol/diskreserve.h"
#include "protocol/hostlink.h"
#include "daemon/logcategories.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

namespace {

// "lp" only hands the job to the print spooler; one that takes longer than
// this is taken as hung.
constexpr int printProgramWaitMs = 60000;

// The argument of "^K" and "^Z" is the byte after the marker; anything but a
// decimal digit, the zero byte after the buffered data included, counts as 0.
int markerArgument(char byte)
{
    return byte >= '0' && byte <= '9' ? byte - '0' : 0;
}

// A job that lp did not take is kept beside the next one as a copy: under
// systemd the job file is the package's own, which the daemon may write but
// neither move nor remove. The copy is made only where its file system keeps
// its reserve.
bool keepFailedJob(const QString &jobFile, const QString &failedJob, qint64 reserve)
{
    QFile::remove(failedJob);
    return QFileInfo(jobFile).size() <= roomAboveReserve(jobFile, reserve) && QFile::copy(jobFile, failedJob);
}

} // namespace

// Appends everything not yet in the job file up to the end of the marker;
// the marker's argument byte is not part of it.
void Brevdaemon::appendAtMarker(const ParseMatch &marker, ReadPass &pass)
{
    const int upTo = marker.start + marker.length;
    appendToJob(m_bufferData + pass.writePosition, upTo - pass.writePosition);
    pass.writePosition = upTo;
}

void Brevdaemon::onJobZMarker(const ParseMatch &marker, ReadPass &pass)
{
    m_jobZValue = markerArgument(m_bufferData[marker.start + marker.length]);
    appendAtMarker(marker, pass);
}

// Only the first "^K" of a job decides how many end markers complete it,
// unless "^Z0" made every job a single-end one.
void Brevdaemon::onJobEndCountMarker(const ParseMatch &marker, ReadPass &pass)
{
    if (m_jobZValue == 0)
        m_jobEndsExpected = 1;
    else if (m_jobEndsExpected == 0)
        m_jobEndsExpected = markerArgument(m_bufferData[marker.start + marker.length]) == 5 ? 2 : 1;
    appendAtMarker(marker, pass);
}

void Brevdaemon::onJobEndMarker(const ParseMatch &marker, const QVector<ParseMatch> &matches,
                                ReadPass &pass)
{
    ++m_jobEndsSeen;
    appendAtMarker(marker, pass);
    if (m_jobEndsSeen != m_jobEndsExpected)
        return;

    // The start of the next job waits in the buffer for the port's restart,
    // unless nothing but print data follows the last end marker.
    if (matches.last().id != HostLink::JobEndMarker)
        carryOver(marker.end + 1, pass.total);
    else
        m_bufferUsed = 0;

    ::close(m_jobFd);
    m_jobFd = -1;
    submitJob();
    pass.jobSubmitted = true;
}

// Hands the job file to the print system, whose queue decides how the job is
// handled, and waits for "lp" to take it; the outcome of the
// printing comes back only through the print engine's queue signals. A job
// that "lp" did not take never gets one: it is logged, the job file is kept
// beside the next one for inspection, and the port restarts as after a
// printed job, so that the host can go on.
void Brevdaemon::submitJob()
{
    QProcess lp;
    lp.setProcessChannelMode(QProcess::MergedChannels);
    lp.start(m_settings.printProgram, {m_settings.jobFilePath});
    const bool finished = lp.waitForFinished(printProgramWaitMs);
    if (finished && lp.exitStatus() == QProcess::NormalExit && lp.exitCode() == 0)
        return;
    if (lp.state() != QProcess::NotRunning) {
        lp.kill();
        lp.waitForFinished();
    }
    const QString failedJob = m_settings.jobFilePath + QStringLiteral(".failed");
    const bool kept = keepFailedJob(m_settings.jobFilePath, failedJob, m_settings.jobFileReserveBytes);
    qCCritical(logJobs).noquote() << "print job not taken:" << m_settings.printProgram
                       << (lp.error() == QProcess::UnknownError ? QStringLiteral("exit status %1").arg(lp.exitCode())
                                                                : lp.errorString())
                       << QString::fromLocal8Bit(lp.readAll()).trimmed()
                       << (kept ? QStringLiteral("- job kept as ") + failedJob : QStringLiteral("- job not kept"));
    restartPort();
}

void Brevdaemon::onPrintDone()
{
    qCInfo(logJobs) << "Enable read of next job";
    restartPort();
}

// Closes the port now and opens it again, with a new job file, after the
// restart interval.
void Brevdaemon::restartPort()
{
    uninitialize();
    m_reinitTimer.start();
}

void Brevdaemon::onQueueFull()
{
    QTimer::singleShot(m_settings.printRetryIntervalMs, this, &Brevdaemon::retryPrint);
}

void Brevdaemon::retryPrint()
{
    qCWarning(logJobs) << "Print failed, retry";
    submitJob();
    setReadEnabled(false);
}
