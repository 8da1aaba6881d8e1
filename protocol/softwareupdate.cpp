#include "daemon/brevdaemon.h"

#include "protocol/hostlink.h"
#include "protocol/transferheader.h"
#include "services/servicecall.h"
#include "services/servicecontract.h"

#include <QApt/Package>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// Waits until `socket` has bytes, at most `milliseconds`.
bool waitForBytes(int socket, int milliseconds)
{
    pollfd watched = {socket, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&watched, 1, milliseconds);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace

void Brevdaemon::startUpdateProgram()
{
    QProcess::startDetached(m_settings.updateProgram, {QStringLiteral("--internal-usb")});
}

// Answers "package version,engine version"; the engine is asked first.
void Brevdaemon::reportSoftwareVersion()
{
    QString engineVersion;
    if (!callForValue(m_engineInterface, Services::Engine::version, engineVersion))
        return;
    const QApt::Package *package = m_backend.package(QStringLiteral("cvipc"));
    if (!package) {
        qDebug() << "failed to obtain software version";
        return;
    }
    queueMessage(HostLink::SoftwareVersion, package->version() + QLatin1Char(',') + engineVersion);
}

// Receives one update file: the header and the first bytes from the buffer,
// the rest straight from the port, then checks the MD5 digest and hands the
// update directory to the installer. The header must be whole in the buffer.
void Brevdaemon::receiveTransfer(int start, int socket, const ReadPass &pass)
{
    const QByteArray held = QByteArray::fromRawData(m_bufferData + start, pass.total - start);
    const TransferHeader header = parseTransferHeader(held);
    if (header.problem == TransferHeader::Incomplete) {
        qDebug() << "update refused: incomplete transfer header";
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferHeaderRefused));
        return;
    }
    if (header.problem == TransferHeader::BadName) {
        qDebug() << "update refused: bad file name" << header.name;
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferNameRefused));
        return;
    }

    QCryptographicHash hash(QCryptographicHash::Md5);
    QFile file(m_settings.updateDir + header.name);
    bool writeFailed = !file.open(QIODevice::WriteOnly);

    const QByteArray buffered = held.mid(header.contentOffset);
    if (file.write(buffered) != buffered.size())
        writeFailed = true;
    hash.addData(buffered);

    // Counts what was taken from the host, written or not, so that a file
    // that cannot be written still consumes exactly the announced bytes.
    qint64 received = buffered.size();
    bool hostSilent = false;
    QElapsedTimer sinceBytes;
    sinceBytes.start();
    char chunk[256];
    while (received < header.size) {
        const qint64 patience = m_settings.transferSilenceMs - sinceBytes.elapsed();
        if (patience <= 0 || !waitForBytes(socket, int(patience))) {
            hostSilent = true;
            break;
        }
        const int wanted = int(std::min<qint64>(header.size - received, sizeof chunk));
        const ssize_t countCharsRead = ::read(socket, chunk, size_t(wanted));
        if (countCharsRead < 0) {
            qDebug() << "countCharsRead (write maxSize" << countCharsRead << ")";
            break;
        }
        const qint64 written = file.write(chunk, countCharsRead);
        file.waitForBytesWritten(1000);
        if (written < 1) {
            qDebug() << "Failed to write m_bufferData "
                     << QByteArray(chunk, int(countCharsRead)).constData()
                     << "countCharsRead" << countCharsRead;
            writeFailed = writeFailed || countCharsRead > 0;
        }
        hash.addData(chunk, int(countCharsRead));
        received += countCharsRead;
        if (countCharsRead > 0)
            sinceBytes.restart();
        QCoreApplication::processEvents();
    }
    file.close();
    writeFailed = writeFailed || file.error() != QFileDevice::NoError;

    if (hostSilent) {
        qDebug() << "update transfer incomplete:" << received << "of" << header.size << "bytes";
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferIncomplete));
        return;
    }
    if (writeFailed) {
        qDebug() << "update file could not be written:" << file.fileName();
        queueMessage(HostLink::UpdateError, QString::number(HostLink::TransferFileUnwritable));
        return;
    }
    const QByteArray digest = hash.result();
    if (digest == header.digest) {
        m_updateHelper.installLocalUpdate(m_settings.updateDir, true);
        return;
    }
    qDebug().noquote() << "md5 check failed:" << '"' + digest + '"' << '"' + header.digest + '"';
    queueMessage(HostLink::UpdateError, QString::number(HostLink::DigestMismatch, 10));
}

void Brevdaemon::updateProgress(double percent)
{
    queueMessage(HostLink::UpdateProgress, QString::number(percent, 'f', 0));
}

void Brevdaemon::updateError(int error)
{
    queueMessage(HostLink::UpdateError, QString::number(error, 10));
}
