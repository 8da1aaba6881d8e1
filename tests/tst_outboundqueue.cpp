#include "daemonlink.h"
#include "privatebus.h"
#include "protocol/hostlink.h"

#include <QtTest>

namespace {

// The daemon with the given keep-alive and batch intervals; every block
// the host receives is kept with its arrival time.
struct TimedLink : DaemonLink
{
    TimedLink(int pingMs, int batchMs)
        : DaemonLink([=](DaemonLink &link) {
            link.settings.pingIntervalMs = pingMs;
            link.settings.batchIntervalMs = batchMs;
        })
    {
        clock.start();
        QObject::connect(&gadget, &FakeGadget::bytesReceived, [this] {
            blocks << gadget.received();
            arrivals << clock.elapsed();
            gadget.clearReceived();
        });
    }

    QElapsedTimer clock;
    QByteArrayList blocks;
    QList<qint64> arrivals;
};

} // namespace

class OutboundQueueTest : public BusTest
{
    Q_OBJECT

private slots:
    void keepAliveOnAQuietLink()
    {
        const int pingMs = 1000;
        TimedLink link(pingMs, 200);
        QTRY_COMPARE_WITH_TIMEOUT(link.blocks, QByteArrayList({"PING\r\n", "PING\r\n", "PING\r\n"}), 20000);
        const qint64 twoGaps = link.arrivals[2] - link.arrivals[0];
        QVERIFY2(twoGaps >= pingMs * 16 / 10 && twoGaps <= pingMs * 8, qPrintable(QString::number(twoGaps)));
        QCOMPARE(link.log.count(QStringLiteral("queueing unknown message")), 0);
    }

    // A batch leaves one batch interval after the last offer, in one write.
    // Keep-alive ticks while it waits queue nothing and do not hold it back;
    // the next keep-alive goes out in a write of its own. The offers come a
    // fifth of the interval apart: a batch timed from the first offer would
    // leave well before the bound checked here, and only a stall of most of
    // an interval could split the batch.
    void linesOfferedApartLeaveTogether()
    {
        const int batchMs = 2500;
        TimedLink link(200, batchMs);
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        qint64 lastOffer = link.clock.elapsed();
        for (const QString &payload : {QStringLiteral("B"), QStringLiteral("C")}) {
            QVERIFY(QTest::qWaitFor([&] { return link.clock.elapsed() - lastOffer >= batchMs / 5; }, 20000));
            link.daemon.queueMessage(HostLink::SupplyId, payload);
            lastOffer = link.clock.elapsed();
        }
        QTRY_VERIFY_WITH_TIMEOUT(link.blocks.size() >= 2, 20000);
        QCOMPARE(link.blocks.mid(0, 2), QByteArrayList({"SIRES,A\r\nSIRES,B\r\nSIRES,C\r\n", "PING\r\n"}));
        const qint64 delay = link.arrivals.first() - lastOffer;
        QVERIFY2(delay >= batchMs * 9 / 10 && delay <= 4 * batchMs, qPrintable(QString::number(delay)));
    }

    // A line equal to a waiting one and an empty payload queue nothing; an
    // id without a prefix sends its payload alone. Once written, a line may
    // be queued again, and a pass that finds the queue empty says so.
    void linesAsQueued()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("brevdaemon.port.debug=true"));
        TimedLink link(600000, 200); // no keep-alive
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
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(QStringLiteral("Write queue empty, nothing to send.")), 1, 10000);
        QCOMPARE(link.blocks.size(), 2);
        QLoggingCategory::setFilterRules(QString());
    }

    // A host that stops reading fills the link. The daemon never waits on
    // it: it goes on reading and printing. What the link did not take goes
    // out first once the host reads again, whole lines only; lines offered
    // meanwhile wait under the queue's bound, the oldest dropped first.
    void hostNotReading()
    {
        TimedLink link(600000, 200); // no keep-alive
        link.gadget.setReading(false);
        QString firstPass;
        for (int i = 0; i < 64; ++i) {
            const QString payload = QStringLiteral("%1:").arg(i) + QString(2000, QLatin1Char('x'));
            link.daemon.queueMessage(HostLink::SupplyId, payload);
            firstPass += HostLink::line(HostLink::SupplyId, payload);
        }
        // The first pass has met the full terminal once bytes wait in it.
        QTRY_VERIFY_WITH_TIMEOUT(link.gadget.unreadByHost() > 0, 20000);

        QVERIFY(link.gadget.send("^K1job\x1a" "E\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls(QStringLiteral("lp")).size(), 1, 20000);
        QString kept;
        for (int i = 0; i < 100; ++i) {
            link.daemon.queueMessage(HostLink::SupplyUid, QString::number(i));
            if (i >= 36)
                kept += HostLink::line(HostLink::SupplyUid, QString::number(i));
        }
        QCOMPARE(link.log.count(QStringLiteral("outbound queue full")), 1);

        link.gadget.setReading(true);
        const QByteArray expected = (firstPass + kept).toLatin1();
        QTRY_COMPARE_WITH_TIMEOUT(link.blocks.join().size(), expected.size(), 20000);
        QCOMPARE(link.blocks.join(), expected);
    }
};

QTEST_GUILESS_MAIN(OutboundQueueTest)
#include "tst_outboundqueue.moc"
