// The shipped daemon, unmodified, as it runs on the printer: its fixed paths
// redirected in a mount namespace, the simulator standing in for the sibling
// services, a real CUPS scheduler behind "lp", and the host talking over a
// pseudo-terminal, partly through brevctl. The cases run in order against one
// daemon, as a host would meet it.

#include "hostterminal.h"
#include "printernamespace.h"
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

// Processes whose program is `executable` or whose command line names `text`.
QStringList processesOf(const QString &executable, const QString &text)
{
    QStringList found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
    for (const QString &pid : pids) {
        const QString program = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        const QByteArray commandLine = fileContent(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (program == executable || commandLine.contains(text.toLocal8Bit()))
            found.append(pid + QLatin1Char(' ') + QString::fromLocal8Bit(commandLine).replace(QChar(0), ' '));
    }
    return found;
}

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

    void updateWithGoodDigestThroughBrevctl()
    {
        QTemporaryDir host;
        const QString package = host.filePath(QStringLiteral("cvipc_2.0_all.deb"));
        const QByteArray content = printData(3000);
        QVERIFY(writeFile(package, content));

        QString output;
        QCOMPARE(brevctl({QStringLiteral("update"), package}, &output), 0);
        QVERIFY2(output.contains(QStringLiteral("[------------------------------]   0 %")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("[##############################] 100 %")), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("Update installed.")), qPrintable(output));
        QCOMPARE(fileContent(m_printer.path(QStringLiteral("Home/cvipc_2.0_all.deb"))), content);
        const QStringList installs = m_printer.calls(QStringLiteral("dpkg"));
        QCOMPARE(installs.size(), 1);
        QVERIFY2(installs.first().contains(QStringLiteral("--install /Home/.pending/"))
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
