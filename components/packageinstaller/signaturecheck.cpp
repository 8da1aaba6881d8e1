#include "signaturecheck.h"

#include <QDir>
#include <QProcess>

#include <cstdio>

namespace SignatureCheck {

namespace {

QString debsigRoot()
{
    const QString root = qEnvironmentVariable("BREVDAEMON_DEBSIG_ROOT");
    return root.isEmpty() ? QStringLiteral("/") : root;
}

} // namespace

bool makerKeyInstalled()
{
    return !QDir(debsigRoot() + QStringLiteral("/etc/debsig/policies"))
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                .isEmpty();
}

bool signedByMaker(const QString &package)
{
    QProcess verify;
    verify.setProcessChannelMode(QProcess::ForwardedChannels);
    verify.start(QStringLiteral("debsig-verify"), {QStringLiteral("--quiet"), QStringLiteral("--root"), debsigRoot(), package});
    if (!verify.waitForFinished(-1)) {
        std::fprintf(stderr, "install-package: debsig-verify could not run: %s\n", qPrintable(verify.errorString()));
        return false;
    }
    if (verify.exitStatus() == QProcess::NormalExit && verify.exitCode() == 0)
        return true;
    // debsig-verify: 10 no signature, 11 a key without policy, 12 no policy
    // selects the package, 13 a bad signature, 14 an internal error.
    std::fprintf(stderr, "install-package: %s is not signed by the maker's key (debsig-verify status %d)\n",
                 qPrintable(package), verify.exitCode());
    return false;
}

} // namespace SignatureCheck
