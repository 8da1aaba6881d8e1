#include "protocol/hostlink.h"
#include "testenv.h"

#include <updatehelper.h>

#include <QtTest>

namespace {

constexpr int installWaitMs = 15000;

// An installer on an update directory that holds the given packages, each
// holding its own name, beside a file and a folder whose names are no
// package's. The dpkg stub records the content of what it installs.
struct Install
{
    explicit Install(const QStringList &packages)
    {
        for (const QString &name : packages + QStringList{QStringLiteral("notes.deb.txt")})
            put(name, name.toLatin1());
        QDir(env.updateDir()).mkdir(QStringLiteral("folder.deb"));
        env.setAction(QStringLiteral("dpkg"), QStringLiteral("cat \"$3\" >> '%1'\n").arg(env.path(QStringLiteral("installed"))));
        QObject::connect(&helper, &UpdateHelper::ProgressChanged, [this](double percent) { progress.append(percent); });
        QObject::connect(&helper, &UpdateHelper::ErrorOccurred, [this](int error) { errors.append(error); });
    }

    // A new file under the name, as a new transfer makes it.
    void put(const QString &name, const QByteArray &content) const
    {
        QFile::remove(env.updateDir() + name);
        writeFile(env.updateDir() + name, content);
    }
    void install(const QString &name, bool allowDowngrade) { helper.installLocalUpdate(env.updateDir() + name, allowDowngrade); }
    QByteArray installed() const { return fileContent(env.path(QStringLiteral("installed"))); }

    TestEnv env;
    QList<double> progress; // outlives the helper, which may report as it ends
    QList<int> errors;
    UpdateHelper helper{QStringLiteral(BREV_PACKAGE_INSTALLER)};
};

} // namespace

class UpdateHelperTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_signing; // see tests/harness/signed-packages.sh

private slots:
    void initTestCase()
    {
        QCOMPARE(QProcess::execute(QStringLiteral("sh"), {QStringLiteral(BREV_SOURCE_DIR "/tests/harness/signed-packages.sh"),
                                                         m_signing.path()}), 0);
    }

    // With the maker's key on the board only a package signed by it reaches
    // dpkg; without a key every package does.
    void installsWhatTheMakersKeySigned_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<bool>("keyInstalled");
        QTest::addColumn<int>("error");
        QTest::newRow("unsigned") << "unsigned.deb" << true << int(HostLink::PackageNotSigned);
        QTest::newRow("signed by another key") << "other.deb" << true << int(HostLink::PackageNotSigned);
        QTest::newRow("signed by the maker") << "maker.deb" << true << 0;
        QTest::newRow("unsigned, no key") << "unsigned.deb" << false << 0;
    }

    void installsWhatTheMakersKeySigned()
    {
        QFETCH(QString, package);
        QFETCH(bool, keyInstalled);
        QFETCH(int, error);
        Install install({});
        install.put(package, fileContent(m_signing.filePath(package)));
        if (keyInstalled)
            qputenv("BREVDAEMON_DEBSIG_ROOT", m_signing.filePath(QStringLiteral("debsig")).toLocal8Bit());
        install.install(package, false);
        QTRY_COMPARE_WITH_TIMEOUT(install.progress.size() + install.errors.size(), 2, installWaitMs);
        QCOMPARE(install.errors.value(0), error);
        QCOMPARE(install.env.calls(QStringLiteral("dpkg")).size(), error ? 0 : 1);
    }

    // An installer that ends while its dpkg runs (the daemon stopping mid
    // update) ends dpkg with it, without reporting into the ended installer.
    void endsWhileDpkgRuns()
    {
        auto *install = new Install({"a.deb"});
        install->env.setAction(QStringLiteral("dpkg"), QStringLiteral("touch '%1'; sleep 30\n")
                                                           .arg(install->env.path(QStringLiteral("started"))));
        // The copy that the ended installer leaves behind goes with the test's folder.
        const QByteArray tmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", install->env.path(QString()).toLocal8Bit());
        install->install(QStringLiteral("a.deb"), false);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(install->env.path(QStringLiteral("started"))), installWaitMs);
        qputenv("TMPDIR", tmp);
        delete install;
    }

    // Each call installs its own package and nothing else in the folder, with
    // the downgrade option of its flag. A call while dpkg runs waits its
    // turn, and installs what it was given even if the file is replaced
    // before then.
    void eachCallInstallsItsOwnPackage()
    {
        Install install({"b.deb", "a.deb", "left-over.deb"});
        install.install(QStringLiteral("b.deb"), false);
        install.install(QStringLiteral("a.deb"), true);
        install.put(QStringLiteral("a.deb"), "replaced after the call");
        QTRY_COMPARE_WITH_TIMEOUT(install.progress, (QList<double>{0, 100, 0, 100}), installWaitMs);
        QCOMPARE(install.installed(), QByteArray("b.deba.deb"));
        const QStringList calls = install.env.calls(QStringLiteral("dpkg"));
        QCOMPARE(calls.size(), 2);
        QVERIFY2(calls[0].startsWith("--refuse-downgrade --install ") && calls[0].endsWith("b.deb"), qPrintable(calls[0]));
        QVERIFY2(calls[1].startsWith("--force-downgrade --install ") && calls[1].endsWith("a.deb"), qPrintable(calls[1]));
        QVERIFY(install.errors.isEmpty());
        QVERIFY(QDir(install.env.updateDir() + QStringLiteral(".pending")).isEmpty());
    }

    void failureEndsTheInstallation_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<int>("dpkgExitCode");
        QTest::addColumn<bool>("dpkgOnPath");
        QTest::addColumn<int>("error");
        QTest::newRow("not a package") << "notes.deb.txt" << 0 << true << int(HostLink::UpdateHoldsNoPackage);
        QTest::newRow("a folder") << "folder.deb" << 0 << true << int(HostLink::UpdateHoldsNoPackage);
        QTest::newRow("dpkg fails") << "a.deb" << 1 << true << int(HostLink::InstallFailed);
        QTest::newRow("dpkg missing") << "a.deb" << 0 << false << int(HostLink::InstallerNotStarted);
    }

    void failureEndsTheInstallation()
    {
        QFETCH(QString, package);
        QFETCH(int, dpkgExitCode);
        QFETCH(bool, dpkgOnPath);
        QFETCH(int, error);
        Install install({"a.deb"});
        install.env.setExitCode(QStringLiteral("dpkg"), dpkgExitCode);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", dpkgOnPath ? path : install.env.path(QStringLiteral("apt")).toLocal8Bit());
        install.install(package, true);
        qputenv("PATH", path);
        QTRY_COMPARE_WITH_TIMEOUT(install.errors, QList<int>{error}, installWaitMs);
        const bool dpkgStarted = error != HostLink::UpdateHoldsNoPackage;
        QCOMPARE(install.progress, dpkgStarted ? QList<double>{0} : QList<double>());

        // The next call starts afresh.
        install.env.setExitCode(QStringLiteral("dpkg"), 0);
        install.install(QStringLiteral("a.deb"), true);
        QTRY_COMPARE_WITH_TIMEOUT(install.progress.constLast(), 100.0, installWaitMs);
        QCOMPARE(install.errors, QList<int>{error});
    }
};

QTEST_GUILESS_MAIN(UpdateHelperTest)
#include "tst_updatehelper.moc"
