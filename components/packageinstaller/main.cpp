// install-package [--allow-downgrade] FILE
//
// Installs one update package as root, for a caller that may not: copies FILE
// into a folder of its own that only it can write, so that nobody can change
// the bytes between the check and the installation, checks the copy's
// signature when the board holds the maker's key, and runs "dpkg --install"
// on that very copy. The exit status says how it ended (installeroutcome.h);
// the reason for a failure goes to stderr, for the journal.

#include "installeroutcome.h"
#include "signaturecheck.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int fail(InstallerOutcome outcome, const QString &why)
{
    std::fprintf(stderr, "install-package: %s\n", qPrintable(why));
    return outcome;
}

int runDpkg(const QString &package, bool allowDowngrade)
{
    // dpkg downgrades by default; both ways are spelt out so that a local
    // dpkg configuration cannot turn the flag around.
    const QString downgrade = allowDowngrade ? QStringLiteral("--force-downgrade") : QStringLiteral("--refuse-downgrade");
    QProcess dpkg;
    dpkg.setProcessChannelMode(QProcess::ForwardedChannels);
    dpkg.start(QStringLiteral("dpkg"), {downgrade, QStringLiteral("--install"), package});
    if (!dpkg.waitForStarted(-1))
        return fail(DpkgNotStarted, QStringLiteral("dpkg could not be started: ") + dpkg.errorString());
    dpkg.waitForFinished(-1);
    if (dpkg.exitStatus() != QProcess::NormalExit || dpkg.exitCode() != 0)
        return fail(DpkgFailed, QStringLiteral("dpkg failed on ") + package);
    return Installed;
}

int install(const QString &file, bool allowDowngrade)
{
    if (!QFileInfo(file).isFile())
        return fail(NoPackageFile, file + QStringLiteral(" is no file"));
    const QTemporaryDir own; // mode 0700
    const QString copy = own.filePath(QFileInfo(file).fileName());
    if (!own.isValid() || !QFile::copy(file, copy))
        return fail(NotCopied, QStringLiteral("could not copy ") + file);
    if (SignatureCheck::makerKeyInstalled() && !SignatureCheck::signedByMaker(copy))
        return NotSignedByMaker;
    return runDpkg(copy, allowDowngrade);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    const bool allowDowngrade = arguments.removeAll(QStringLiteral("--allow-downgrade")) > 0;
    if (arguments.size() != 1 || arguments.first().startsWith(QLatin1Char('-')))
        return fail(BadArguments, QStringLiteral("usage: install-package [--allow-downgrade] FILE"));
    return install(arguments.first(), allowDowngrade);
}
