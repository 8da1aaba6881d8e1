#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>

// Installs the Debian packages found in an update directory, one after the
// other in name order, with "dpkg --install" run asynchronously. Every *.deb
// file there is installed, also one that an earlier transfer left behind.
//
// ProgressChanged(double) reports the share of packages done, 0 to 100: 0 when
// installation starts, then after each package. ErrorOccurred(int) reports a
// failure and ends the installation:
//   1  the directory holds no *.deb file
//   2  dpkg could not be started
//   3  dpkg failed on a package (the packages after it are not tried)
// A call while an installation runs is ignored.
class UpdateHelper : public QObject
{
    Q_OBJECT

public:
    enum Error { NoPackages = 1, InstallerNotStarted = 2, InstallFailed = 3 };

    explicit UpdateHelper(QObject *parent = nullptr);

    // With `allowDowngrade` the packages may replace newer installed
    // versions, as a host rolling a printer back needs; without it dpkg
    // refuses such a package, which counts as a failure (3).
    void installLocalUpdate(const QString &directory, bool allowDowngrade);

signals:
    void ProgressChanged(double percent);
    void ErrorOccurred(int error);

private:
    void installNext();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void fail(Error error);

    QProcess m_dpkg;
    QStringList m_pending;
    int m_total = 0;
    bool m_allowDowngrade = false;
};
