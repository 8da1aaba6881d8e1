#include "packagecheck.h"

#include <QProcess>

QString packageProblem(const QString &path, const QByteArray &content)
{
    if (content.isEmpty())
        return QStringLiteral("%1 is empty").arg(path);
    QProcess dpkgDeb;
    dpkgDeb.start(QStringLiteral("dpkg-deb"), {QStringLiteral("--info"), path});
    if (!dpkgDeb.waitForStarted()) {
        // A host without dpkg: a package is an ar archive that starts with
        // its "debian-binary" member.
        return content.startsWith("!<arch>\ndebian-binary")
                   ? QString()
                   : QStringLiteral("%1 is no Debian package (no ar archive with debian-binary first)").arg(path);
    }
    dpkgDeb.waitForFinished(-1);
    if (dpkgDeb.exitStatus() == QProcess::NormalExit && dpkgDeb.exitCode() == 0)
        return {};
    return QStringLiteral("%1 is no Debian package: %2")
        .arg(path, QString::fromLocal8Bit(dpkgDeb.readAllStandardError()).trimmed());
}
