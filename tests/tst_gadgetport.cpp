#include "daemonlink.h"
#include "privatebus.h"
#include "protocol/hostlink.h"

#include <QtTest>

#include <sys/resource.h>

namespace {

// How many descriptors of this process are open on `path`.
int openCount(const QString &path)
{
    const QFileInfoList descriptors = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot);
    return int(std::count_if(descriptors.begin(), descriptors.end(),
                             [&](const QFileInfo &descriptor) { return descriptor.symLinkTarget() == path; }));
}

// CPU seconds this process (the test and the daemon in it) has used.
double processCpuSeconds()
{
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &time) { return double(time.tv_sec) + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

class GadgetPortTest : public BusTest
{
    Q_OBJECT

private slots:
    // A printer switched on before its cable is plugged in: the device does
    // not open yet. The daemon says what it serves as it starts, says once
    // that the device does not open, keeps the job file and its lines,
    // retries quietly, however long the outage at least once per longest
    // pause, and serves the device once it is there.
    void deviceAppearingLater()
    {
        QElapsedTimer outage;
        outage.start();
        // The daemon's device is a link to the gadget, made later.
        DaemonLink link([](DaemonLink &link) {
            link.settings.gadgetPath = link.env.path(QStringLiteral("gadget"));
            link.settings.pingIntervalMs = 100;
        });
        const QRegularExpression startLine(QStringLiteral("^brevdaemon \\d+\\.\\d+\\.\\d+ serving %1 .*updates into")
                                               .arg(QRegularExpression::escape(link.settings.gadgetPath)));
        QCOMPARE(link.log.messages().filter(startLine).size(), 1);
        QCOMPARE(link.log.count(QStringLiteral("Error opening gadget:")), 1);
        QVERIFY(QFile::exists(link.env.jobFilePath()));

        const QStringList afterStart = link.log.messages();
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        // Pauses that doubled on past the longest would by now leave the
        // device untried for seconds.
        const int outageMs = 45 * link.settings.portRetryMaxMs;
        QVERIFY(!QTest::qWaitFor([&] { return link.log.messages() != afterStart; }, int(outageMs - outage.elapsed())));

        QVERIFY(QFile::link(link.gadget.devicePath(), link.settings.gadgetPath));
        QElapsedTimer appeared;
        appeared.start();
        QTRY_COMPARE_WITH_TIMEOUT(openCount(link.gadget.devicePath()), 2, 20000);
        QVERIFY2(appeared.elapsed() < 1000, qPrintable(QString::number(appeared.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.received(), QByteArray("SIRES,A\r\n"), 20000);
        QVERIFY(link.gadget.send("print data"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("print data"), 20000);
        QCOMPARE(link.log.messages(), afterStart);
    }

    // A gadget taken down and made again while the daemon runs: the node it
    // held open stays dead, and the new node under its path is served.
    void gadgetRemade()
    {
        DaemonLink link([](DaemonLink &link) {
            link.settings.gadgetPath = link.env.path(QStringLiteral("gadget"));
        });
        QVERIFY(QFile::link(link.gadget.devicePath(), link.settings.gadgetPath));
        QVERIFY(link.gadget.send("first "));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("first "), 20000);

        link.gadget.hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(QStringLiteral("reading from")), 1, 20000);
        FakeGadget remade;
        QVERIFY(QFile::remove(link.settings.gadgetPath));
        QVERIFY(QFile::link(remade.devicePath(), link.settings.gadgetPath));
        QVERIFY(remade.send("second"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("first second"), 20000);
    }

    // The host end gone for good: reads fail or find the end of the input at
    // once, every time. The daemon says so once and rests between retries
    // instead of spinning on them.
    void hostEndGoneWithoutSpinning()
    {
        // Served through a link of its own: the terminal's node is freed at
        // the hang-up and may go to another program's terminal meanwhile.
        DaemonLink link([](DaemonLink &link) {
            link.settings.gadgetPath = link.env.path(QStringLiteral("gadget"));
            QFile::link(link.gadget.devicePath(), link.settings.gadgetPath);
        });
        QVERIFY(link.gadget.send("data"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("data"), 20000);

        link.gadget.hangUp();
        QVERIFY(QFile::remove(link.settings.gadgetPath));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(QStringLiteral("reading from")), 1, 20000);
        const double cpuBefore = processCpuSeconds();
        QVERIFY(!QTest::qWaitFor([&] { return link.log.count(QStringLiteral("reading from")) > 1; }, 2000));
        const double cpuUsed = processCpuSeconds() - cpuBefore;
        QVERIFY2(cpuUsed < 0.3, qPrintable(QString::number(cpuUsed)));
    }

    // After the queue-complete signal the port closes, keeps its queue, and
    // one restart interval later opens again with an empty job file; the
    // lines waiting from before and during the pause then go out.
    void restartCycle()
    {
        DaemonLink link([](DaemonLink &link) { link.settings.pingIntervalMs = 600000; });

        QVERIFY(link.gadget.send("unfinished job"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("unfinished job"), 10000);

        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("before"));
        QElapsedTimer sinceDone;
        sinceDone.start();
        QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onPrintDone"));
        QCOMPARE(openCount(link.gadget.devicePath()), 1); // the gadget's own
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("during"));

        QTRY_COMPARE_WITH_TIMEOUT(openCount(link.gadget.devicePath()), 2, 20000);
        QVERIFY2(sinceDone.elapsed() >= link.settings.reinitIntervalMs * 9 / 10, qPrintable(QString::number(sinceDone.elapsed())));
        QCOMPARE(link.env.jobFile(), QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.received(), QByteArray("SIRES,before\r\nSIRES,during\r\n"), 10000);
    }
};

QTEST_GUILESS_MAIN(GadgetPortTest)
#include "tst_gadgetport.moc"
