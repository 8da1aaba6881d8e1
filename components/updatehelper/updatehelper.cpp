#include "updatehelper.h"

#include <QDir>

UpdateHelper::UpdateHelper(QObject *parent)
    : QObject(parent)
{
    m_dpkg.setProcessChannelMode(QProcess::ForwardedChannels);
    connect(&m_dpkg, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
            this, &UpdateHelper::onFinished);
    connect(&m_dpkg, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(InstallerNotStarted);
    });
}

void UpdateHelper::installLocalUpdate(const QString &directory, bool allowDowngrade)
{
    if (!m_pending.isEmpty() || m_dpkg.state() != QProcess::NotRunning)
        return;
    const QDir dir(directory);
    for (const QString &name : dir.entryList({QStringLiteral("*.deb")}, QDir::Files, QDir::Name))
        m_pending.append(dir.absoluteFilePath(name));
    m_total = m_pending.size();
    if (m_total == 0) {
        emit ErrorOccurred(NoPackages);
        return;
    }
    m_allowDowngrade = allowDowngrade;
    emit ProgressChanged(0.0);
    installNext();
}

void UpdateHelper::installNext()
{
    // dpkg downgrades by default; both ways are spelt out so that a local
    // dpkg configuration cannot turn the flag around.
    const QString downgrade = m_allowDowngrade ? QStringLiteral("--force-downgrade")
                                               : QStringLiteral("--refuse-downgrade");
    m_dpkg.start(QStringLiteral("dpkg"), {downgrade, QStringLiteral("--install"), m_pending.first()});
}

void UpdateHelper::onFinished(int exitCode, QProcess::ExitStatus status)
{
    if (status != QProcess::NormalExit || exitCode != 0) {
        fail(InstallFailed);
        return;
    }
    m_pending.removeFirst();
    emit ProgressChanged(100.0 * (m_total - m_pending.size()) / m_total);
    if (!m_pending.isEmpty())
        installNext();
}

void UpdateHelper::fail(Error error)
{
    m_pending.clear();
    emit ErrorOccurred(error);
}
