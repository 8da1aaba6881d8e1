// The shipped daemon on the kernel's own USB printer gadget, inside the
// virtual machine of scripts/realdevice-vm.sh: the gadget's node
// /dev/g_printer0 under the daemon's fixed name, the host's usblp node
// /dev/usb/lp0 at the other end of an emulated cable, the simulator on a
// private bus and a stub lp that keeps every job. Only that driver shows what
// these cases check: its queue of writes, its refusal to open before a host
// is attached. The udev rule, queries over usblp and a pulled cable are
// checked on the virtual board, with the daemon under systemd (tests/board).
//
// The cases run in order against one daemon, as a host meets a printer; the
// last starts a daemon of its own before the host is attached.

#include "printdata.h"
#include "privatebus.h"
#include "simulator.h"
#include "testenv.h"
#include "usbhost.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <iterator>

namespace {

const QString gadgetNode = QStringLiteral("/dev/g_printer0");
const QString daemonDevice = QStringLiteral("/dev/g_nira_printer");
const QString hostNode = QStringLiteral("/dev/usb/lp0");
// The host's view of the one device on the dummy controller: 0 unplugs it.
const QString cableSwitch = QStringLiteral("/sys/bus/usb/devices/1-1/authorized");
// Generous: the whole machine is emulated, on a machine that may be busy.
const int answerTimeoutMs = 20000;

bool plugCable(bool in)
{
    return writeFile(cableSwitch, in ? "1" : "0");
}

// The shipped brevdaemon as a child process, its log (standard error) in a file.
class DaemonProcess
{
public:
    explicit DaemonProcess(const QString &logPath)
        : m_logPath(logPath)
    {
    }
    ~DaemonProcess() { stop(); }

    bool start()
    {
        m_process.setStandardErrorFile(m_logPath, QIODevice::Append);
        m_process.setStandardOutputFile(m_logPath, QIODevice::Append);
        m_process.start(QStringLiteral(BREV_DAEMON), QStringList());
        return m_process.waitForStarted(answerTimeoutMs);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QByteArray log() const { return fileContent(m_logPath); }
    // Whether the daemon has the gadget open now.
    bool holdsPort() const
    {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(m_process.processId());
        const QStringList entries = QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            if (QFileInfo(fds + QLatin1Char('/') + fd).symLinkTarget() == gadgetNode)
                return true;
        }
        return false;
    }

private:
    QString m_logPath;
    QProcess m_process;
};

} // namespace

class RealDeviceTest : public QObject
{
    Q_OBJECT

private:
    QStringList jobs() const
    {
        return QDir(m_env.path(QStringLiteral("jobs"))).entryList(QDir::Files, QDir::Name);
    }
    QByteArray printed(int index) const
    {
        return fileContent(m_env.path(QStringLiteral("jobs/") + jobs().value(index)));
    }

    bool attachHost()
    {
        return QTest::qWaitFor([] { return QFile::exists(hostNode); }, answerTimeoutMs) && m_host.open(hostNode);
    }

    bool called(const char *call) const { return m_simulator.calls().contains(QLatin1String(call)); }

    // Sends a query and waits for its whole answer line.
    bool answers(const QByteArray &query, const QByteArray &answer, int timeoutMs)
    {
        const int before = m_host.countLines(answer);
        m_host.send(query);
        return QTest::qWaitFor([&] { return m_host.countLines(answer) > before; }, timeoutMs);
    }

private slots:
    void initTestCase()
    {
        if (qgetenv("BREV_REALDEVICE_VM") != "1" || !QFile::exists(gadgetNode))
            QSKIP("runs only inside the rig's virtual machine: scripts/realdevice-vm.sh tst_realdevice");
        QCOMPARE(QFileInfo(daemonDevice).canonicalFilePath(), gadgetNode);

        QVERIFY(QDir(m_env.path(QString())).mkpath(QStringLiteral("jobs")));
        QVERIFY(writeFile(m_env.path(QStringLiteral("bin/lp")),
                          QStringLiteral("#!/bin/sh\ncp \"$1\" \"%1/$(date +%s%N)\"\n")
                              .arg(m_env.path(QStringLiteral("jobs"))).toLocal8Bit()));
        QVERIFY(m_bus.start());
        QVERIFY(m_simulator.start());
        QVERIFY(m_daemon.start());
        QVERIFY(attachHost());
        // Serving, with its services: the cases below start from a daemon
        // that has opened the gadget and subscribed to its notices.
        QVERIFY(answers("~S,STATUSREQ\r\n", "~S,STATUSRES,0\r\n", answerTimeoutMs));
    }

    // After a job the print engine reports its queue complete: the daemon
    // closes the port and opens it again 5 s later. A notice that comes in
    // between waits for it, and the next job, sent by brevctl, arrives whole.
    void noticeWaitsForThePortRestart()
    {
        QVERIFY(m_simulator.command(QStringLiteral("emit r6 R6_PrintQueueComplete")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_daemon.holdsPort(), answerTimeoutMs);
        QVERIFY(m_simulator.command(QStringLiteral("emit supplyd SUPPLYD_Ribbon1PercentChanged 0.335")));
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.holdsPort(), answerTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_host.countLines("~S,R1RFIDRES,33\r\n"), 1, answerTimeoutMs);

        QTemporaryDir host;
        const QByteArray job = twoMarkerJob();
        QVERIFY(writeFile(host.filePath(QStringLiteral("job.prn")), job));
        // brevctl returns only once the printer reads again: once the print
        // engine, played here, has reported the job printed.
        m_host.close();
        QProcess tool;
        tool.setProcessChannelMode(QProcess::MergedChannels);
        tool.start(QStringLiteral(BREVCTL), {QStringLiteral("-d"), hostNode, QStringLiteral("-t"), QStringLiteral("20"),
                                             QStringLiteral("print"), host.filePath(QStringLiteral("job.prn"))});
        QTRY_COMPARE_WITH_TIMEOUT(jobs().size(), 1, answerTimeoutMs);
        QCOMPARE(printed(0).size(), job.size());
        QVERIFY(printed(0) == job);
        QVERIFY(m_simulator.command(QStringLiteral("emit r6 R6_PrintQueueComplete")));
        QTRY_VERIFY_WITH_TIMEOUT(!m_daemon.holdsPort(), answerTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.holdsPort(), answerTimeoutMs);
        QVERIFY(QTest::qWaitFor([&] { return tool.state() == QProcess::NotRunning; }, 60000));
        QVERIFY2(tool.exitCode() == 0, tool.readAll().constData());
        QVERIFY(m_host.open(hostNode));
    }

    // A host that keeps the link open but stops reading: the driver takes
    // q_len writes, then no more. Print data, queries and signals must still
    // be served; when the host reads again it gets every waiting line, whole
    // and in order.
    void hostThatStopsReading()
    {
        QVERIFY(answers("~S,STATUSREQ\r\n", "~S,STATUSRES,0\r\n", answerTimeoutMs));
        m_host.setReading(false);
        // A batch about every second, three lines each: the driver's queue
        // fills up batch by batch.
        QList<QByteArray> waiting;
        for (int step = 0; step < 5; ++step) {
            const struct { const char *signal; const char *line; int percent; } changes[] = {
                {"SUPPLYD_SupplyPercentChanged", "~S,SRFIDRES,", 10 + step},
                {"SUPPLYD_Ribbon1PercentChanged", "~S,R1RFIDRES,", 20 + step},
                {"SUPPLYD_Ribbon2PercentChanged", "~S,R2RFIDRES,", 30 + step},
            };
            for (const auto &change : changes) {
                // x.5 %: no rounding can move the truncated percentage.
                QVERIFY(m_simulator.command(QStringLiteral("emit supplyd %1 %2")
                                                .arg(QLatin1String(change.signal))
                                                .arg((change.percent + 0.5) / 100)));
                waiting.append(change.line + QByteArray::number(change.percent) + "\r");
            }
            QTest::qWait(1100);
        }
        // A line longer than all the driver's buffers together (q_len of 8 KiB
        // each): whatever room is left, a writer that blocks gets stuck in it.
        const QByteArray longId(96 * 1024, 'L');
        QVERIFY(m_simulator.command(QStringLiteral("emit r6 R6_R6SupplyID ") + QLatin1String(longId)));
        waiting.append("SIRES," + longId + '\r');
        QTest::qWait(1100);
        QElapsedTimer notReading;
        notReading.start();

        m_simulator.clearCalls();
        QVERIFY(m_simulator.command(QStringLiteral("reply supplyd supplySupplyPercent 0.9")));
        m_host.send("~S,STATUSREQ\r\n~S,SRFIDREQ\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(called("r6 getError"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(called("supplyd supplySupplyPercent"), 10000);
        QVERIFY(m_simulator.command(QStringLiteral("emit r6 R6_R6SupplyID SUP-STALLED")));

        const QByteArray job = twoMarkerJob();
        m_host.send(job);
        QTRY_VERIFY_WITH_TIMEOUT(m_host.allSent(), 10000);
        QElapsedTimer sinceEnd;
        sinceEnd.start();
        QTRY_COMPARE_WITH_TIMEOUT(jobs().size(), 2, 10000);
        qInfo("job at lp %lld ms after its end marker went out", sinceEnd.elapsed());
        QVERIFY(printed(1) == job);

        QTest::qWait(int(qMax<qint64>(0, 20000 - notReading.elapsed()))); // the host stays away
        const int seen = m_host.received().size();
        m_host.setReading(true);
        QVERIFY(m_simulator.command(QStringLiteral("emit supplyd SUPPLYD_Ribbon2PercentChanged 0.775")));
        QTRY_COMPARE_WITH_TIMEOUT(m_host.countLines("~S,R2RFIDRES,77\r\n"), 1, answerTimeoutMs);

        const QByteArray after = m_host.received().mid(seen);
        QVERIFY2(after.endsWith("\r\n"), after.right(200).constData());
        const QRegularExpression known(
            QStringLiteral("^(PING|~S,(SRFID|R1RFID|R2RFID|STATUS)RES,\\d+|SIRES,(SUP-STALLED|L+))\r$"));
        QList<QByteArray> lines = after.split('\n');
        lines.removeLast(); // empty: after the last line feed
        for (const QByteArray &text : lines)
            QVERIFY2(known.match(QString::fromLatin1(text)).hasMatch(), text.left(200).constData());
        QList<QByteArray> waitingReceived;
        std::copy_if(lines.cbegin(), lines.cend(), std::back_inserter(waitingReceived),
                     [&](const QByteArray &text) { return waiting.contains(text); });
        QCOMPARE(waitingReceived.size(), waiting.size());
        QVERIFY(waitingReceived == waiting);
        QVERIFY(after.contains("~S,STATUSRES,0\r\n~S,SRFIDRES,90\r\n"));
        QVERIFY(m_simulator.command(QStringLiteral("emit r6 R6_PrintQueueComplete")));
    }

    // A printer is switched on before its cable is plugged in: the gadget
    // refuses to open until the host has configured it.
    void coldStartBeforeTheHostIsAttached()
    {
        m_host.close();
        m_daemon.stop();
        QVERIFY(plugCable(false));
        QVERIFY(QTest::qWaitFor([] { return !QFile::exists(hostNode); }, answerTimeoutMs));
        m_simulator.clearCalls();
        DaemonProcess daemon(m_env.path(QStringLiteral("cold.log")));
        QVERIFY(daemon.start());
        // The engine's refresh is the daemon's last step before it opens the port.
        QTRY_VERIFY_WITH_TIMEOUT(called("r6 refreshAll"), answerTimeoutMs);
        QTest::qWait(3000); // the cable stays out a while

        QVERIFY(plugCable(true));
        QElapsedTimer sincePlugged;
        sincePlugged.start();
        QVERIFY(attachHost());
        QVERIFY(m_simulator.command(QStringLiteral("reply supplyd supplySupplyPercent 0.44")));
        const bool answered = answers("~S,SRFIDREQ\r\n", "~S,SRFIDRES,44\r\n", 8000 - int(sincePlugged.elapsed()));
        QVERIFY2(answered, daemon.log().constData());
        qInfo("cold start: answer %lld ms after the cable went in", sincePlugged.elapsed());
    }

    void cleanup()
    {
        m_host.setReading(true);
        if (!QFile::exists(hostNode)) {
            plugCable(true);
            attachHost();
        }
    }

private:
    TestEnv m_env;
    PrivateBus m_bus;
    Simulator m_simulator;
    DaemonProcess m_daemon{m_env.path(QStringLiteral("brevdaemon.log"))};
    UsbHost m_host;
};

QTEST_GUILESS_MAIN(RealDeviceTest)

#include "tst_realdevice.moc"
