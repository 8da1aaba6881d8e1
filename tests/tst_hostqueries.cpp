#include "daemonlink.h"
#include "privatebus.h"
#include "simulator.h"

#include <QtTest>

namespace {

const int waitMs = 20000;

QByteArray withoutKeepAlives(QByteArray received)
{
    return received.replace("PING\r\n", "");
}

} // namespace

// The host's level and status queries, answered by asking the simulated
// services (the identifier queries go with their notices).
class HostQueriesTest : public BusTest
{
    Q_OBJECT

private slots:
    // Levels and status are asked for at the time of the query, in the order
    // of the queries, and answered in that order. Equal queries in one read
    // ask the service each time but give one line while the first still
    // waits to be written.
    void levelAndStatusQueries()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        QVERIFY(simulator.command("reply supplyd supplySupplyPercent 0.5"));
        QVERIFY(simulator.command("reply supplyd supplyRibbon1Percent 0.29"));
        QVERIFY(simulator.command("reply r6 getError -3"));
        DaemonLink link;

        QVERIFY(link.gadget.send("~S,SRFIDREQ\r\n~S,R1RFIDREQ\r\n~S,SRFIDREQ\r\n~S,R2RFIDREQ\r\n~S,STATUSREQ\r\n"));
        const QByteArray answers = "~S,SRFIDRES,50\r\n~S,R1RFIDRES,28\r\n~S,R2RFIDRES,25\r\n~S,STATUSRES,-3\r\n";
        QTRY_COMPARE_WITH_TIMEOUT(withoutKeepAlives(link.gadget.received()), answers, waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(simulator.callCount("supplyd supplySupplyPercent"), 2, waitMs);
    }

    void invalidReplies_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("query");
        const char *status = "~S,STATUSREQ\r\n";
        QTest::newRow("status fails") << "fail r6 getError" << status;
        QTest::newRow("status as text") << "replyas r6 getError s -3" << status;
        QTest::newRow("status missing") << "replyas r6 getError none" << status;
        QTest::newRow("engine absent") << "stop r6" << status;
        QTest::newRow("level as integer") << "replyas supplyd supplySupplyPercent i 50" << "~S,SRFIDREQ\r\n";
        QTest::newRow("ribbon 2 level fails") << "fail supplyd supplyRibbon2Percent" << "~S,R2RFIDREQ\r\n";
        QTest::newRow("supply absent") << "stop supplyd" << "~S,R1RFIDREQ\r\n";
    }

    // A failed or mistyped reply is logged and answers nothing; the next
    // query of the same read is still answered.
    void invalidReplies()
    {
        QFETCH(QString, setup);
        QFETCH(QString, query);
        Simulator simulator;
        QVERIFY(simulator.start());
        DaemonLink link;
        QVERIFY(simulator.command("emit r6 R6_R6SupplyID S"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("SIRES,S\r\n"), 1, waitMs);
        QVERIFY(simulator.command(setup));
        link.gadget.clearReceived();

        QVERIFY(link.gadget.send(query.toLatin1() + "SIREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(withoutKeepAlives(link.gadget.received()), QByteArray("SIRES,S\r\n"), waitMs);
        QCOMPARE(link.log.count("reply invalid"), 1);
    }

    // A service that stops answering holds a read up for one call time-out:
    // its other queries in the read are not asked, and get no answer, while
    // the status query in the same read is answered and a keep-alive still
    // goes out.
    void hungServiceHoldsAReadUpOnce()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        QVERIFY(simulator.command("hang supplyd supplySupplyPercent"));
        QVERIFY(simulator.command("hang supplyd supplyRibbon1Percent"));
        DaemonLink link([](DaemonLink &link) { link.settings.serviceCallTimeoutMs = 900; });

        QElapsedTimer sinceSent;
        sinceSent.start();
        QVERIFY(link.gadget.send(QByteArray("~S,SRFIDREQ\r\n~S,R1RFIDREQ\r\n").repeated(4) + "~S,STATUSREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~S,STATUSRES,0\r\n"), 1, waitMs);
        QVERIFY2(sinceSent.elapsed() < 4 * link.settings.serviceCallTimeoutMs, qPrintable(QString::number(sinceSent.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(link.gadget.countLines("PING\r\n") >= 1, waitMs);
        QVERIFY(!link.gadget.received().contains("RFIDRES"));
    }
};

QTEST_GUILESS_MAIN(HostQueriesTest)
#include "tst_hostqueries.moc"
