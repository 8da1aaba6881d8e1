#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "protocol/hostlink.h"
#include "testenv.h"

#include <QtTest>

namespace {

// The daemon on a pseudo-terminal with the given keep-alive and batch
// intervals; every block the host receives is kept with its arrival time.
struct Link
{
    Link(int pingMs, int batchMs)
        : daemon([&] {
            DaemonSettings settings = env.settings(gadget.devicePath());
            settings.pingIntervalMs = pingMs;
            settings.batchIntervalMs = batchMs;
            return settings;
        }())
    {
        clock.start();
        QObject::connect(&gadget, &FakeGadget::bytesReceived, [this] {
            blocks << gadget.received();
            arrivals << clock.elapsed();
            gadget.clearReceived();
        });
    }

    TestEnv env;
    FakeGadget gadget;
    LogCapture log;
    Brevdaemon daemon;
    QElapsedTimer clock;
    QByteArrayList blocks;
    QList<qint64> arrivals;
};

} // namespace

class OutboundQueueTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
    }

    void keepAliveOnAQuietLink()
    {
        const int pingMs = 1000;
        Link link(pingMs, 200);
        QTRY_COMPARE_WITH_TIMEOUT(link.blocks, QByteArrayList({"PING\r\n", "PING\r\n", "PING\r\n"}), 20000);
        const qint64 twoGaps = link.arrivals[2] - link.arrivals[0];
        QVERIFY2(twoGaps >= pingMs * 16 / 10 && twoGaps <= pingMs * 8, qPrintable(QString::number(twoGaps)));
        QCOMPARE(link.log.count(QStringLiteral("queueing unknown message")), 0);
    }

    // A batch leaves one batch interval after the last offer, in one write.
    // Keep-alive ticks while it waits queue nothing and do not hold it back;
    // the next keep-alive goes out in a write of its own.
    void linesOfferedApartLeaveTogether()
    {
        Link link(200, 1000);
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        qint64 lastOffer = link.clock.elapsed();
        for (const QString &payload : {QStringLiteral("B"), QStringLiteral("C")}) {
            QTest::qWait(300);
            if (link.clock.elapsed() - lastOffer > 800)
                QSKIP("the machine is too busy to offer lines 300 ms apart");
            link.daemon.queueMessage(HostLink::SupplyId, payload);
            lastOffer = link.clock.elapsed();
        }
        QTRY_VERIFY_WITH_TIMEOUT(link.blocks.size() >= 2, 20000);
        QCOMPARE(link.blocks.mid(0, 2), QByteArrayList({"SIRES,A\r\nSIRES,B\r\nSIRES,C\r\n", "PING\r\n"}));
        const qint64 delay = link.arrivals.first() - lastOffer;
        QVERIFY2(delay >= 900 && delay <= 5000, qPrintable(QString::number(delay)));
    }

    // A line equal to a waiting one and an empty payload queue nothing; an
    // id without a prefix sends its payload alone. Once written, a line may
    // be queued again, and a pass that finds the queue empty says so.
    void linesAsQueued()
    {
        StderrCapture stderrText;
        Link link(600000, 200); // no keep-alive
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        link.daemon.queueMessage(HostLink::SupplyUid, QStringLiteral("A"));
        link.daemon.queueMessage(HostLink::SupplyId, QString());
        link.daemon.queueMessage(8, QStringLiteral("X"));
        link.daemon.queueMessage(HostLink::PrinterStatus, QStringLiteral("3"));
        QTRY_COMPARE_WITH_TIMEOUT(link.blocks, QByteArrayList{"SIRES,A\r\nSUIRES,A\r\nX\r\n~S,STATUSRES,3\r\n"}, 10000);
        QCOMPARE(link.log.count(QStringLiteral("queueing unknown message")), 1);

        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        QTRY_COMPARE_WITH_TIMEOUT(link.blocks.last(), QByteArray("SIRES,A\r\n"), 10000);
        link.daemon.queueMessage(HostLink::SupplyId, QString());
        QTRY_VERIFY_WITH_TIMEOUT(stderrText.text().contains("Write queue empty, nothing to send.\n"), 10000);
        QCOMPARE(link.blocks.size(), 2);
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(OutboundQueueTest)
#include "tst_outboundqueue.moc"
