// The shipped daemon, unmodified, as it runs on the printer: its fixed paths
// redirected in a mount namespace, the simulator standing in for the sibling
// services, a real CUPS scheduler behind "lp", and the host talking over a
// pseudo-terminal, partly through brevctl. The cases run in order against one
// daemon, as a host would meet it.

#include "hostterminal.h"
#include "printernamespace.h"
#include "processes.h"
#include "printdata.h"
#include "privatebus.h"
#include "privatecups.h"
#include "rawlistener.h"
#include "simulator.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QtTest>

#include <unistd.h>

namespace {

const int answerTimeoutMs = 20000;

} // namespace

class ShippedPrinterTest : public QObject
{
    Q_OBJECT

private:
    // Runs brevctl on the host's end of the link, which the test lends it.
    int brevctl(const QStringList &arguments, QString *output)
    {
        m_host.close();
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(BREVCTL), QStringList{QStringLiteral("-d"), m_printer.hostPath()} + arguments);
        const bool finished = tool.waitForFinished(60000);
        *output = QString::fromLocal8Bit(tool.readAll());
        m_host.open(m_printer.hostPath());
        return finished && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    }

    // Runs brevctl while the test plays the print engine: each job that
    // reaches the printer is reported printed, as the engine would.
    int brevctlPrinting(const QStringList &arguments, QString *output)
    {
        m_host.close();
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(BREVCTL), QStringList{QStringLiteral("-d"), m_printer.hostPath()} + arguments);
        int reported = m_listener.jobs().size();
        const auto jobOrEnd = [&] { return m_listener.jobs().size() > reported || tool.state() == QProcess::NotRunning; };
        while (QTest::qWaitFor(jobOrEnd, 90000) && m_listener.jobs().size() > reported) {
            ++reported;
            m_simulator.command(QStringLiteral("emit r6 R6_PrintQueueComplete"));
        }
        const bool finished = QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 60000);
        *output = QString::fromLocal8Bit(tool.readAll());
        m_host.open(m_printer.hostPath());
        return finished && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    }

    static QString hostFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        return writeFile(path, content) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("needs root for the mount namespace");
        m_machinePathsBefore = PrinterNamespace::existingMachinePaths();
        QVERIFY(m_bus.start());
        QVERIFY(m_simulator.start());
        QVERIFY(m_listener.listen());
        QVERIFY(m_cups.start(m_listener.port()));
        QVERIFY(m_printer.start(QStringLiteral(BREV_DAEMON)));
        QVERIFY(m_host.open(m_printer.hostPath()));
        // The printer's fixed paths exist only in its namespace.
        QCOMPARE(PrinterNamespace::existingMachinePaths(), m_machinePathsBefore);
    }

    void levelQueryThroughBrevctl()
    {
        QVERIFY(m_simulator.command(QStringLiteral("reply supplyd supplySupplyPercent 0.5")));
        QString output;
        QCOMPARE(brevctl({QStringLiteral("supply")}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("Supply:          50 %")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("Ribbon 2:        25 %")), qPrintable(output));
    }

    void updateCommandStartsTheUpdateProgram()
    {
        QVERIFY(m_host.send("^UPDATE\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(m_printer.calls(QStringLiteral("Fenwick")), QStringList{"--internal-usb"},
                                  answerTimeoutMs);
    }

    // The printer's own report of what it was given, not just "sent".
    void networkSettingsConfirmedThroughBrevctl()
    {
        QString output;
        QCOMPARE(brevctl({"set-network", "1", "192.168.1.20", "255.255.255.0", "192.168.1.1"}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("Confirmed")) && output.contains(QStringLiteral("192.168.1.20")),
                 qPrintable(output));
        QCOMPARE(brevctl({"set-ship", "3"}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("read by the printer")), qPrintable(output));
    }

    void updateWithGoodDigestThroughBrevctl()
    {
        QTemporaryDir host;
        const QString package = host.filePath(QStringLiteral("cvipc_2.0_all.deb"));
        QDir().mkpath(host.filePath(QStringLiteral("tree/DEBIAN")));
        QVERIFY(writeFile(host.filePath(QStringLiteral("tree/DEBIAN/control")),
                          "Package: cvipc\nVersion: 2.0\nArchitecture: all\nMaintainer: T <t@example.org>\n"
                          "Description: test\n"));
        QCOMPARE(QProcess::execute(QStringLiteral("dpkg-deb"), {QStringLiteral("--root-owner-group"),
                                                               QStringLiteral("--build"), host.filePath("tree"),
                                                               package}),
                 0);
        const QByteArray content = fileContent(package);

        QString output;
        QCOMPARE(brevctl({QStringLiteral("update"), package}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("[------------------------------]   0 %")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("[##############################] 100 %")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("Update installed.")), qPrintable(output));
        QCOMPARE(fileContent(m_printer.path(QStringLiteral("Home/cvipc_2.0_all.deb"))), content);
        const QStringList installs = m_printer.calls(QStringLiteral("dpkg"));
        QCOMPARE(installs.size(), 1);
        QVERIFY2(installs.first().contains(QStringLiteral("/install-package-"))
                     && installs.first().endsWith(QStringLiteral("cvipc_2.0_all.deb")),
                 qPrintable(installs.first()));
    }

    void jobPrintedThroughCups()
    {
        // The job file holds all the host sent since the port opened, the
        // commands of the cases before included: this job ends it.
        const QByteArray job = twoMarkerJob();
        QVERIFY(m_host.send(job));
        QTRY_COMPARE_WITH_TIMEOUT(m_listener.jobs().size(), 1, 60000);
        QVERIFY(m_listener.jobs().first().endsWith(job));
    }

    void portRestartsAfterQueueCompleteForTheNextJob()
    {
        if (m_listener.jobs().size() != 1)
            QSKIP("needs the job of the case before");
        QElapsedTimer sinceComplete;
        sinceComplete.start();
        QVERIFY(m_simulator.command(QStringLiteral("emit r6 R6_PrintQueueComplete")));
        // Reading stays off until the port reopens about 5 s later, with an
        // empty job file: the job arrives there, and at the printer, whole.
        const QByteArray job = twoMarkerJob();
        QVERIFY(m_host.send(job));
        QTRY_COMPARE_WITH_TIMEOUT(m_listener.jobs().size(), 2, 60000);
        QVERIFY2(sinceComplete.elapsed() >= 4000, qPrintable(QString::number(sinceComplete.elapsed())));
        QCOMPARE(m_listener.jobs().at(1).size(), job.size());
        QVERIFY(m_listener.jobs().at(1) == job);
    }

    // A file of several jobs, another print right after it and a query
    // right after that: every job reaches the printer whole, and the query
    // is answered, because brevctl waits until the printer reads again.
    void jobsOneAfterAnotherThroughBrevctl()
    {
        QVERIFY(m_simulator.command(QStringLiteral("emit r6 R6_PrintQueueComplete")));
        const int before = m_listener.jobs().size();
        QTemporaryDir host;
        const QByteArray first = "^K1" + printData(3000) + "E\r\n";
        const QByteArray second = twoMarkerJob();
        const QByteArray third = "^K1" + printData(2000) + "E\r\n";
        QString output;
        QCOMPARE(brevctlPrinting({"print", hostFile(host, QStringLiteral("two.prn"), first + second)}, &output), 0);
        QCOMPARE(brevctlPrinting({"print", hostFile(host, QStringLiteral("one.prn"), third)}, &output), 0);
        QCOMPARE(brevctl({"status"}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("(ready)")) || output.contains(QStringLiteral("(fault")),
                 qPrintable(output));
        QCOMPARE(m_listener.jobs().mid(before), (QList<QByteArray>{first, second, third}));
    }

    void cleanupTestCase()
    {
        if (geteuid() != 0)
            return;
        m_host.close();
        QVERIFY(m_printer.stop());
        QCOMPARE(PrinterNamespace::existingMachinePaths(), m_machinePathsBefore);
        QCOMPARE(processesOf(QStringLiteral(BREV_DAEMON), m_printer.path(QString())), QStringList());
    }

private:
    PrivateBus m_bus;
    Simulator m_simulator;
    RawListener m_listener;
    PrivateCups m_cups;
    PrinterNamespace m_printer;
    HostTerminal m_host;
    QStringList m_machinePathsBefore;
};

int main(int argc, char *argv[])
{
    // The daemon gets a private /tmp: the bus, the scheduler's socket and the
    // state folder must lie elsewhere.
    qputenv("TMPDIR", "/var/tmp");
    QCoreApplication app(argc, argv);
    ShippedPrinterTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shippedprinter.moc"
