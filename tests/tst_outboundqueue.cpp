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
        : daemon(settings(pingMs, batchMs))
    {
        clock.start();
        QObject::connect(&gadget, &FakeGadget::bytesReceived, [this] {
            const QByteArray all = gadget.received();
            blocks << all.mid(seen);
            arrivals << clock.elapsed();
            seen = all.size();
        });
    }

    DaemonSettings settings(int pingMs, int batchMs) const
    {
        DaemonSettings settings = env.settings(gadget.devicePath());
        settings.pingIntervalMs = pingMs;
        settings.batchIntervalMs = batchMs;
        return settings;
    }

    TestEnv env;
    FakeGadget gadget;
    LogCapture log;
    Brevdaemon daemon;
    QElapsedTimer clock;
    QList<QByteArray> blocks;
    QList<qint64> arrivals;
    int seen = 0;
};

const int never = 600000;

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
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("PING\r\n"), 3, 20000);
        QCOMPARE(link.blocks, QList<QByteArray>({"PING\r\n", "PING\r\n", "PING\r\n"}));
        for (int i = 1; i < link.arrivals.size(); ++i) {
            const qint64 gap = link.arrivals[i] - link.arrivals[i - 1];
            QVERIFY2(gap >= pingMs * 8 / 10 && gap <= pingMs * 4, qPrintable(QString::number(gap)));
        }
        QCOMPARE(link.log.count(QStringLiteral("queueing unknown message")), 0);
    }

    // Keep-alive ticks while a line waits queue nothing and do not hold the
    // line back; the next keep-alive goes out in a write of its own.
    void keepAliveNeverBehindALine()
    {
        Link link(100, 1000);
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("PING\r\n"), 2, 20000);
        QCOMPARE(link.blocks.first(), QByteArray("SIRES,A\r\n"));
        QCOMPARE(link.blocks.mid(1), QList<QByteArray>({"PING\r\n", "PING\r\n"}));
    }

    // A batch leaves one batch interval after the last offer, in one write.
    void linesOfferedApartLeaveTogether()
    {
        Link link(never, 1000);
        const QString payloads[] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
        QElapsedTimer sinceOffer;
        for (const QString &payload : payloads) {
            if (sinceOffer.isValid()) {
                QTest::qWait(300);
                if (sinceOffer.elapsed() > 800)
                    QSKIP("the machine is too busy to offer lines 300 ms apart");
            }
            link.daemon.queueMessage(HostLink::SupplyId, payload);
            sinceOffer.start();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!link.blocks.isEmpty(), 10000);
        const qint64 delay = sinceOffer.elapsed();
        QVERIFY2(delay >= 900 && delay <= 5000, qPrintable(QString::number(delay)));
        QCOMPARE(link.blocks, QList<QByteArray>{"SIRES,A\r\nSIRES,B\r\nSIRES,C\r\n"});
    }

    void equalLinesAndEmptyPayloads()
    {
        Link link(never, 200);
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        link.daemon.queueMessage(HostLink::SupplyUid, QStringLiteral("A"));
        link.daemon.queueMessage(HostLink::SupplyId, QString());
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.received(), QByteArray("SIRES,A\r\nSUIRES,A\r\n"), 10000);

        // Once written, the same line may be queued again.
        link.daemon.queueMessage(HostLink::SupplyId, QStringLiteral("A"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("SIRES,A\r\n"), 2, 10000);
    }

    // An empty payload queues nothing but still ends in a write pass, which
    // finds the queue empty.
    void emptyPassIsReported()
    {
        StderrCapture stderrText;
        Link link(never, 200);
        link.daemon.queueMessage(HostLink::SupplyId, QString());
        QTRY_VERIFY_WITH_TIMEOUT(stderrText.text().contains("Write queue empty, nothing to send.\n"), 10000);
        QCOMPARE(link.gadget.received(), QByteArray());
    }

    void unknownIdGoesOutWithoutPrefix()
    {
        Link link(never, 200);
        link.daemon.queueMessage(8, QStringLiteral("X"));
        link.daemon.queueMessage(HostLink::PrinterStatus, QStringLiteral("3"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.received(), QByteArray("X\r\n~S,STATUSRES,3\r\n"), 10000);
        QCOMPARE(link.log.count(QStringLiteral("queueing unknown message")), 1);
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(OutboundQueueTest)
#include "tst_outboundqueue.moc"
