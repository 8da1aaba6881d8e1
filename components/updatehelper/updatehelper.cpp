#include "updatehelper.h"

#include "protocol/hostlink.h"

#include <installeroutcome.h>
#include <unitlauncher.h>

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <unistd.h>

namespace {

// A status that is none of the installer's own (a crash, a failure of the
// launcher around it) counts as a failed installation.
int hostLinkCode(int installerStatus)
{
    switch (installerStatus) {
    case NoPackageFile: return HostLink::UpdateHoldsNoPackage;
    case NotCopied: return HostLink::PackageNotKept;
    case NotSignedByMaker: return HostLink::PackageNotSigned;
    case DpkgNotStarted: return HostLink::InstallerNotStarted;
    default: return HostLink::InstallFailed;
    }
}

} // namespace

UpdateHelper::UpdateHelper(const QString &installer, QObject *parent)
    : QObject(parent)
    , m_installer(installer)
{
    m_installing.setProcessChannelMode(QProcess::ForwardedChannels);
    connect(&m_installing, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
            this, &UpdateHelper::onFinished);
    connect(&m_installing, &QProcess::errorOccurred, this, &UpdateHelper::onErrorOccurred);
}

// An installation still running is ended with the helper, and its end must
// not reach a helper half destroyed.
UpdateHelper::~UpdateHelper()
{
    m_installing.disconnect(this);
}

void UpdateHelper::installLocalUpdate(const QString &package, bool allowDowngrade)
{
    if (!QFileInfo(package).isFile() || !package.endsWith(QLatin1String(".deb"))) {
        emit ErrorOccurred(HostLink::UpdateHoldsNoPackage);
        return;
    }
    const QString kept = setAside(package);
    if (kept.isEmpty()) {
        emit ErrorOccurred(HostLink::PackageNotKept);
        return;
    }
    m_waiting.append({kept, allowDowngrade});
    if (m_waiting.size() == 1)
        startNext();
}

// Returns the path of the set-aside file, or an empty one.
QString UpdateHelper::setAside(const QString &package)
{
    const QFileInfo file(package);
    QDir pending(file.absolutePath() + QStringLiteral("/.pending"));
    // With nothing waiting, whatever is there was left by a run that ended
    // before it could clean up.
    if (m_waiting.isEmpty())
        pending.removeRecursively();
    pending.mkpath(QStringLiteral("."));
    const QString kept = pending.filePath(QString::number(++m_setAsideCount) + QLatin1Char('-') + file.fileName());
    if (::link(qPrintable(package), qPrintable(kept)) == 0 || QFile::copy(package, kept))
        return kept;
    return QString();
}

void UpdateHelper::startNext()
{
    const Installation &next = m_waiting.first();
    emit ProgressChanged(0.0);
    QStringList arguments{next.package};
    if (next.allowDowngrade)
        arguments.prepend(QStringLiteral("--allow-downgrade"));
    // dpkg writes all over the system, which the daemon's service may not.
    const UnitLauncher::Command installer = UnitLauncher::outsideSandbox(
        UnitLauncher::RootJob::InstallPackage, m_installer, arguments);
    m_installing.start(installer.program, installer.arguments);
}

void UpdateHelper::onFinished(int exitCode, QProcess::ExitStatus status)
{
    if (status == QProcess::NormalExit && exitCode == 0)
        emit ProgressChanged(100.0);
    else
        emit ErrorOccurred(hostLinkCode(status == QProcess::NormalExit ? exitCode : -1));
    endCurrent();
}

void UpdateHelper::onErrorOccurred(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart)
        return; // an installer that ran reports through onFinished()
    emit ErrorOccurred(HostLink::InstallerNotStarted);
    endCurrent();
}

// The next installation starts from the event loop, never from inside a
// QProcess signal of the one that ended.
void UpdateHelper::endCurrent()
{
    QFile::remove(m_waiting.takeFirst().package);
    if (!m_waiting.isEmpty())
        QTimer::singleShot(0, this, &UpdateHelper::startNext);
}
