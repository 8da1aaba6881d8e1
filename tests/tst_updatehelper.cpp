#include "testenv.h"

#include <updatehelper.h>

#include <QtTest>

namespace {

constexpr int installWaitMs = 15000;

// An installer on an update directory that holds the given packages beside a
// file and a folder whose names are no package's.
struct Install
{
    explicit Install(const QStringList &packages)
    {
        for (const QString &name : packages + QStringList{QStringLiteral("notes.deb.txt")})
            put(name);
        QDir(env.updateDir()).mkdir(QStringLiteral("folder.deb"));
        QObject::connect(&helper, &UpdateHelper::ProgressChanged, [this](double percent) { progress.append(percent); });
        QObject::connect(&helper, &UpdateHelper::ErrorOccurred, [this](int error) { errors.append(error); });
    }

    void put(const QString &name) const { QFile(env.updateDir() + name).open(QIODevice::WriteOnly); }

    TestEnv env;
    QList<double> progress; // outlives the helper, which may report as it ends
    QList<int> errors;
    UpdateHelper helper;
};

} // namespace

class UpdateHelperTest : public QObject
{
    Q_OBJECT

private slots:
    void packagesAreInstalledInNameOrder()
    {
        Install install({"b.deb", "a.deb"});
        install.helper.installLocalUpdate(install.env.updateDir(), false);
        // A second call while the first installs is ignored.
        install.helper.installLocalUpdate(install.env.updateDir(), false);
        QTRY_COMPARE_WITH_TIMEOUT(install.progress, (QList<double>{0, 50, 100}), installWaitMs);
        const QString options = "--refuse-downgrade --install " + install.env.updateDir();
        QCOMPARE(install.env.calls(QStringLiteral("dpkg")), (QStringList{options + "a.deb", options + "b.deb"}));
        QVERIFY(install.errors.isEmpty());
    }

    void failureEndsTheInstallation_data()
    {
        QTest::addColumn<QStringList>("packages");
        QTest::addColumn<int>("dpkgExitCode");
        QTest::addColumn<bool>("dpkgOnPath");
        QTest::addColumn<int>("error");
        QTest::newRow("no packages") << QStringList() << 0 << true << int(UpdateHelper::NoPackages);
        QTest::newRow("dpkg fails") << QStringList{"a.deb", "b.deb"} << 1 << true << int(UpdateHelper::InstallFailed);
        QTest::newRow("dpkg missing") << QStringList{"a.deb"} << 0 << false << int(UpdateHelper::InstallerNotStarted);
    }

    void failureEndsTheInstallation()
    {
        QFETCH(QStringList, packages);
        QFETCH(int, dpkgExitCode);
        QFETCH(bool, dpkgOnPath);
        QFETCH(int, error);
        Install install(packages);
        install.env.setExitCode(QStringLiteral("dpkg"), dpkgExitCode);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", dpkgOnPath ? path : install.env.path(QStringLiteral("apt")).toLocal8Bit());
        install.helper.installLocalUpdate(install.env.updateDir(), true);
        qputenv("PATH", path);
        QTRY_COMPARE_WITH_TIMEOUT(install.errors, QList<int>{error}, installWaitMs);
        QCOMPARE(install.progress, packages.isEmpty() ? QList<double>() : QList<double>{0});
        // The packages after a failed one are not tried.
        QVERIFY(install.env.calls(QStringLiteral("dpkg")).size() <= 1);

        // The next call starts afresh.
        install.env.setExitCode(QStringLiteral("dpkg"), 0);
        install.put(QStringLiteral("c.deb"));
        install.helper.installLocalUpdate(install.env.updateDir(), true);
        QTRY_COMPARE_WITH_TIMEOUT(install.progress.constLast(), 100.0, installWaitMs);
        QCOMPARE(install.errors, QList<int>{error});
    }
};

QTEST_GUILESS_MAIN(UpdateHelperTest)
#include "tst_updatehelper.moc"
