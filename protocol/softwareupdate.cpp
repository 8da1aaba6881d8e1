#include "daemon/brevdaemon.h"

#include "daemon/logcategories.h"
#include "engineinterface.h"
#include "protocol/hostlink.h"
#include "protocol/portreader.h"
#include "protocol/transferheader.h"
#include "services/servicecall.h"

#include <unitlauncher.h>

#include <QFileInfo>
#include <QProcess>

#include <QApt/Package>

#include <apt-pkg/configuration.h>
#include <apt-pkg/init.h>

// The version lookup needs only what is installed: the package database is
// built from the dpkg status alone. Without sources APT reads no package
// list (on a machine with Debian's full lists they cost some 50 MB), and
// with the architectures given it need not ask dpkg for them at start.
void Brevdaemon::initPackageDatabase()
{
    pkgInitConfig(*_config);
    _config->Set("Dir::Etc::SourceList", "/dev/null");
    _config->Set("Dir::Etc::SourceParts", "/dev/null");
    _config->Set("Dir::Cache::pkgcache", "");
    _config->Set("Dir::Cache::srcpkgcache", "");
    _config->Set("APT::Architectures::", _config->Find("APT::Architecture"));
    m_backend.init();
}

// One update program at a time: a second one would fight the first over the
// printer. The daemon follows it until it ends; stopping the daemon's service
// leaves it running.
void Brevdaemon::startUpdateProgram()
{
    if (m_updateProgram.state() != QProcess::NotRunning) {
        qCWarning(logUpdate) << "update program still running: no other started";
        return;
    }
    const UnitLauncher::Command command = UnitLauncher::outsideSandbox(
        UnitLauncher::RootJob::UpdateProgram, m_settings.updateProgram, {QStringLiteral("--internal-usb")});
    m_updateProgram.start(command.program, command.arguments);
    if (!m_updateProgram.waitForStarted())
        qCWarning(logUpdate).noquote() << "update program not started:" << m_updateProgram.errorString();
}

void Brevdaemon::onUpdateProgramEnded(int exitCode, QProcess::ExitStatus status)
{
    if (status == QProcess::NormalExit)
        qCInfo(logUpdate) << "update program ended, exit status" << exitCode;
    else
        qCWarning(logUpdate) << "update program crashed";
}

// Answers "package version,engine version"; the engine is asked first.
void Brevdaemon::reportSoftwareVersion()
{
    QString engineVersion;
    if (!callForValue(m_engineInterface, &EngineInterface::r6Version, engineVersion, m_silentServices))
        return;
    // A removed package whose configuration files remain is no installed one.
    const QApt::Package *package = m_backend.package(QStringLiteral("cvipc"));
    if (!package || !package->isInstalled()) {
        qCWarning(logUpdate) << "failed to obtain software version";
        return;
    }
    queueMessage(HostLink::SoftwareVersion, package->installedVersion() + QLatin1Char(',') + engineVersion);
}

// Receives one update file: the header and the first bytes from the buffer,
// the rest straight from the port, then checks the MD5 digest and hands the
// file to the installer. The header must be whole in the buffer.
// Whenever the size is known, exactly that many bytes are taken from the
// host, so that the file is never mistaken for commands or print data: a
// refused name or a file that cannot be written is read and dropped.
void Brevdaemon::receiveTransfer(int start, int socket, const ReadPass &pass)
{
    const QByteArray held = QByteArray::fromRawData(m_bufferData + start, pass.total - start);
    const TransferHeader header = parseTransferHeader(held);
    if (header.problem == TransferHeader::Incomplete) {
        qCWarning(logUpdate) << "update refused: incomplete transfer header";
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferHeaderRefused));
        return;
    }
    IncomingFile incoming;
    const QString path = m_settings.updateDir + header.name;
    if (header.problem == TransferHeader::BadName) {
        qCWarning(logUpdate) << "update refused: bad file name" << header.name;
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferNameRefused));
        incoming.discarded = true;
    } else if (!makeRoomForTransfer(path, header.size)) {
        qCWarning(logUpdate) << "update refused:" << header.size << "bytes would leave less than"
                             << m_settings.updateDirReserveBytes << "bytes free in" << m_settings.updateDir;
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferTooLarge));
        incoming.discarded = true;
    } else {
        // A new file, never the old one rewritten: an installation still
        // waiting for the old one keeps what was verified (see UpdateHelper).
        incoming.file.setFileName(path);
        QFile::remove(path);
        incoming.file.open(QIODevice::WriteOnly);
        m_lastTransferFile = path;
    }
    incoming.take(held.constData() + header.contentOffset, held.size() - header.contentOffset);
    PortReader port(socket, m_settings.transferSilenceMs);
    const TransferEnd end = receiveFromPort(incoming, header.size, port,
                                            [this, socket] { return m_gadgetFd == socket; });
    incoming.file.close();

    if (incoming.discarded)
        return;
    // A file cut short is never checked nor installed, even if the digest
    // sent happens to cover the bytes that came.
    if (end != TransferEnd::Complete) {
        // A failed read has said so already: one line per transfer.
        if (end != TransferEnd::PortFailed)
            qCWarning(logUpdate) << "update transfer incomplete:" << incoming.received << "of" << header.size << "bytes,"
                     << (end == TransferEnd::HostSilent ? "the host went silent" : "the port was closed");
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferIncomplete));
        return;
    }
    if (incoming.writeFailed || incoming.file.error() != QFileDevice::NoError) {
        qCWarning(logUpdate) << "update file could not be written:" << incoming.file.fileName()
                             << incoming.file.errorString();
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferFileUnwritable));
        return;
    }
    const QByteArray digest = incoming.hash.result();
    if (digest == header.digest) {
        // The host that sends an older package means to roll the printer back.
        m_updateHelper.installLocalUpdate(incoming.file.fileName(), true);
        return;
    }
    qCWarning(logUpdate).noquote() << "md5 check failed: received" << digest.toHex() << "announced"
                                   << header.digest.toHex();
    queueMessage(HostLink::UpdateError, QString::number(HostLink::DigestMismatch, 10));
}

// Removes the file the transfer before left, and says whether a file of
// `size` bytes at `path` then leaves the update folder's file system its
// reserve. The update folder keeps the latest transfer's file alone,
// whatever became of it (an installation has set its own copy aside), so
// that transfers under ever new names cannot fill it; a file of the same
// name is replaced.
bool Brevdaemon::makeRoomForTransfer(const QString &path, qint64 size)
{
    if (!m_lastTransferFile.isEmpty() && m_lastTransferFile != path)
        QFile::remove(m_lastTransferFile);
    const QFileInfo replaced(path);
    const qint64 freed = replaced.isFile() ? replaced.size() : 0;
    return roomAboveReserve(m_settings.updateDir, m_settings.updateDirReserveBytes) >= size - freed;
}

// An installation that ends, done or failed part way, may have changed what
// is installed: the package database is read again for "~U,SOFTVER". An
// update refused before dpkg ran changed nothing.
void Brevdaemon::updateProgress(double percent)
{
    queueMessage(HostLink::UpdateProgress, QString::number(percent, 'f', 0));
    if (percent >= 100)
        m_backend.reloadCache();
}

void Brevdaemon::updateError(int error)
{
    qCWarning(logUpdate).noquote() << "update not installed: error" << error << "-" << HostLink::errorMeaning(error);
    queueMessage(HostLink::UpdateError, QString::number(error, 10));
    if (error == HostLink::InstallFailed)
        m_backend.reloadCache();
}
