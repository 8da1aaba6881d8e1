#include "testenv.h"

#include <updatehelper.h>

#include <QtTest>

namespace {

constexpr int installWaitMs = 15000;

void putFile(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

QList<double> progressValues(const QSignalSpy &spy)
{
    QList<double> values;
    for (const QList<QVariant> &arguments : spy)
        values.append(arguments.at(0).toDouble());
    return values;
}

} // namespace

class UpdateHelperTest : public QObject
{
    Q_OBJECT

private slots:
    void directoryWithoutPackagesIsAnError()
    {
        TestEnv env;
        putFile(env.updateDir() + QStringLiteral("notes.deb.txt"));
        QVERIFY(QDir(env.updateDir()).mkdir(QStringLiteral("folder.deb")));
        UpdateHelper helper;
        QSignalSpy errors(&helper, &UpdateHelper::ErrorOccurred);
        QSignalSpy progress(&helper, &UpdateHelper::ProgressChanged);
        helper.installLocalUpdate(env.updateDir(), true);
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.at(0).at(0).toInt(), int(UpdateHelper::NoPackages));
        QCOMPARE(progress.size(), 0);
        QVERIFY(env.calls(QStringLiteral("dpkg")).isEmpty());
    }

    void packagesAreInstalledInNameOrder_data()
    {
        QTest::addColumn<bool>("allowDowngrade");
        QTest::addColumn<QString>("options");
        QTest::newRow("downgrade allowed") << true << QStringLiteral("--force-downgrade --install ");
        QTest::newRow("no downgrade") << false << QStringLiteral("--refuse-downgrade --install ");
    }

    void packagesAreInstalledInNameOrder()
    {
        QFETCH(bool, allowDowngrade);
        QFETCH(QString, options);
        TestEnv env;
        putFile(env.updateDir() + QStringLiteral("b.deb"));
        putFile(env.updateDir() + QStringLiteral("a.deb"));
        UpdateHelper helper;
        QSignalSpy progress(&helper, &UpdateHelper::ProgressChanged);
        QSignalSpy errors(&helper, &UpdateHelper::ErrorOccurred);
        helper.installLocalUpdate(env.updateDir(), allowDowngrade);
        // A second call while the first installs is ignored.
        helper.installLocalUpdate(env.updateDir(), allowDowngrade);
        QTRY_COMPARE_WITH_TIMEOUT(progressValues(progress), (QList<double>{0, 50, 100}), installWaitMs);
        QCOMPARE(env.calls(QStringLiteral("dpkg")),
                 (QStringList{options + env.updateDir() + "a.deb", options + env.updateDir() + "b.deb"}));
        QCOMPARE(errors.size(), 0);
    }

    // The failing package ends the installation; the next call starts afresh.
    void dpkgFailureStopsTheInstallation()
    {
        TestEnv env;
        putFile(env.updateDir() + QStringLiteral("a.deb"));
        putFile(env.updateDir() + QStringLiteral("b.deb"));
        env.setExitCode(QStringLiteral("dpkg"), 1);
        UpdateHelper helper;
        QSignalSpy progress(&helper, &UpdateHelper::ProgressChanged);
        QSignalSpy errors(&helper, &UpdateHelper::ErrorOccurred);
        helper.installLocalUpdate(env.updateDir(), true);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, installWaitMs);
        QCOMPARE(errors.at(0).at(0).toInt(), int(UpdateHelper::InstallFailed));
        QCOMPARE(progressValues(progress), QList<double>{0});
        QCOMPARE(env.calls(QStringLiteral("dpkg")).size(), 1);

        env.setExitCode(QStringLiteral("dpkg"), 0);
        helper.installLocalUpdate(env.updateDir(), true);
        QTRY_COMPARE_WITH_TIMEOUT(progressValues(progress), (QList<double>{0, 0, 50, 100}), installWaitMs);
        QCOMPARE(errors.size(), 1);
    }

    void missingDpkgIsAnError()
    {
        TestEnv env;
        putFile(env.updateDir() + QStringLiteral("a.deb"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", env.path(QStringLiteral("apt")).toLocal8Bit());
        UpdateHelper helper;
        QSignalSpy errors(&helper, &UpdateHelper::ErrorOccurred);
        helper.installLocalUpdate(env.updateDir(), true);
        qputenv("PATH", path);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, installWaitMs);
        QCOMPARE(errors.at(0).at(0).toInt(), int(UpdateHelper::InstallerNotStarted));
    }
};

QTEST_GUILESS_MAIN(UpdateHelperTest)
#include "tst_updatehelper.moc"
