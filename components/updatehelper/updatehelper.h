#pragma once

#include <QList>
#include <QObject>
#include <QProcess>

// Installs update packages, one call a package file (the file that a
// transfer has just received and verified): nothing else in its folder is
// touched, so a file that failed its check, came cut short or was installed
// before is never installed by a later call.
//
// The call sets the file aside at once, as a hard link (or, where the file
// system has none, a copy) in the folder ".pending" beside it, and the
// installer program (install-package) is given that: a later transfer that
// replaces the file under the same name cannot change what was verified. The
// program runs asynchronously; under systemd the package's install unit runs
// it as root, outside the daemon's sandbox. It copies the file once more, into a folder only it
// can write, checks the maker's signature where the board holds the maker's
// key, and runs "dpkg --install". The set-aside file is removed when its
// installation ends.
//
// Installations run one at a time; a call while one runs waits its turn.
// Each reports ProgressChanged(0) when the installer starts and
// ProgressChanged(100) when the package is installed, or ErrorOccurred(int)
// with one of the host link's installer codes (HostLink::ErrorCode, 1 to 5):
// the file is gone or is no ".deb", the installer or dpkg could not be
// started, dpkg failed on the package or refused it as a downgrade, the file
// could not be set aside or copied, or it is not signed by the maker's key.
class UpdateHelper : public QObject
{
    Q_OBJECT

public:
    // `installer` is the path of install-package.
    explicit UpdateHelper(const QString &installer, QObject *parent = nullptr);
    ~UpdateHelper() override;

    // With `allowDowngrade` the package may replace a newer installed
    // version, as a host rolling a printer back needs; without it dpkg
    // refuses such a package, which counts as a failure (3).
    void installLocalUpdate(const QString &package, bool allowDowngrade);

signals:
    void ProgressChanged(double percent);
    void ErrorOccurred(int error);

private:
    struct Installation
    {
        QString package; // the set-aside file
        bool allowDowngrade;
    };

    QString setAside(const QString &package);
    void startNext();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onErrorOccurred(QProcess::ProcessError error);
    void endCurrent();

    const QString m_installer;
    QProcess m_installing;
    QList<Installation> m_waiting; // the first one is running
    int m_setAsideCount = 0;
};
