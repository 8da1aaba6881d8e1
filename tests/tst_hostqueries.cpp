#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "simulator.h"
#include "testenv.h"

#include <QtTest>

namespace {

const int waitMs = 20000;

QByteArray withoutKeepAlives(QByteArray received)
{
    return received.replace("PING\r\n", "");
}

} // namespace

// The host's ten queries, answered from the kept identifiers or by asking
// the simulated services.
class HostQueriesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
    }

    // Levels and status are asked for at the time of the query, in the order
    // of the queries, and answered in that order.
    void levelAndStatusQueries()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        QVERIFY(simulator.command("reply supplyd supplySupplyPercent 0.5"));
        QVERIFY(simulator.command("reply supplyd supplyRibbon1Percent 0.29"));
        QVERIFY(simulator.command("reply r6 getError -3"));
        TestEnv env;
        FakeGadget gadget;
        Brevdaemon daemon(env.settings(gadget.devicePath()));

        QVERIFY(gadget.send("~S,SRFIDREQ\r\n~S,R1RFIDREQ\r\n~S,R2RFIDREQ\r\n~S,STATUSREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("~S,STATUSRES,-3\r\n"), 1, waitMs);
        QCOMPARE(withoutKeepAlives(gadget.received()),
                 QByteArray("~S,SRFIDRES,50\r\n~S,R1RFIDRES,28\r\n~S,R2RFIDRES,25\r\n~S,STATUSRES,-3\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(simulator.calls(),
                                  QStringList({"r6 refreshAll", "supplyd supplySupplyPercent",
                                               "supplyd supplyRibbon1Percent", "supplyd supplyRibbon2Percent",
                                               "r6 getError"}),
                                  waitMs);
    }

    // Identifier queries answer what was last signalled, without asking a
    // service, and nothing before anything was signalled.
    void identifierQueries()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        TestEnv env;
        FakeGadget gadget;
        Brevdaemon daemon(env.settings(gadget.devicePath()));
        const QByteArray identifierQueries = "RI2REQ\r\nSIREQ\r\nSUIREQ\r\nRUI1REQ\r\nRUI2REQ\r\nRI1REQ\r\n";

        QVERIFY(gadget.send(identifierQueries + "~S,STATUSREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("~S,STATUSRES,0\r\n"), 1, waitMs);
        QCOMPARE(withoutKeepAlives(gadget.received()), QByteArray("~S,STATUSRES,0\r\n"));

        for (const char *command : {"emit r6 R6_R6RibbonIDs A,B", "emit r6 R6_R6SupplyID S",
                                    "emit r6 R6_R6SupplyUID U", "emit r6 R6_R6Ribbon1UID V1",
                                    "emit r6 R6_R6Ribbon2UID V2"})
            QVERIFY(simulator.command(QLatin1String(command)));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("RUI2RES,V2\r\n"), 1, waitMs);
        gadget.clearReceived();
        QTRY_COMPARE_WITH_TIMEOUT(simulator.callCount("r6 getError"), 1, waitMs);
        simulator.clearCalls();

        QVERIFY(gadget.send(identifierQueries + "~S,STATUSREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("~S,STATUSRES,0\r\n"), 1, waitMs);
        // RI1REQ repeats lines that still wait: the queue keeps one of each.
        QCOMPARE(withoutKeepAlives(gadget.received()),
                 QByteArray("RI1RES,A\r\nRI2RES,B\r\nSIRES,S\r\nSUIRES,U\r\nRUI1RES,V1\r\nRUI2RES,V2\r\n"
                            "~S,STATUSRES,0\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(simulator.calls(), QStringList({"r6 getError"}), waitMs);
    }

    void invalidReplies_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("query");
        const QByteArray status = "~S,STATUSREQ\r\n";
        QTest::newRow("status fails") << "fail r6 getError" << status;
        QTest::newRow("status as text") << "replyas r6 getError s -3" << status;
        QTest::newRow("status as double") << "replyas r6 getError d -3" << status;
        QTest::newRow("status missing") << "replyas r6 getError none" << status;
        QTest::newRow("engine absent") << "stop r6" << status;
        QTest::newRow("level as integer") << "replyas supplyd supplySupplyPercent i 50"
                                          << QByteArray("~S,SRFIDREQ\r\n");
        QTest::newRow("ribbon 2 level fails") << "fail supplyd supplyRibbon2Percent"
                                              << QByteArray("~S,R2RFIDREQ\r\n");
        QTest::newRow("supply absent") << "stop supplyd" << QByteArray("~S,R1RFIDREQ\r\n");
    }

    // A failed or mistyped reply is logged and answers nothing; the next
    // query of the same read is still answered.
    void invalidReplies()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, query);
        Simulator simulator;
        QVERIFY(simulator.start());
        TestEnv env;
        FakeGadget gadget;
        Brevdaemon daemon(env.settings(gadget.devicePath()));
        QVERIFY(simulator.command("emit r6 R6_R6SupplyID S"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("SIRES,S\r\n"), 1, waitMs);
        QVERIFY(simulator.command(setup));
        gadget.clearReceived();

        LogCapture log;
        QVERIFY(gadget.send(query + "SIREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("SIRES,S\r\n"), 1, waitMs);
        QCOMPARE(withoutKeepAlives(gadget.received()), QByteArray("SIRES,S\r\n"));
        QCOMPARE(log.count("reply invalid"), 1);
    }

    // Equal queries in one read ask the service each time but give one line
    // while the first still waits to be written.
    void equalQueriesInOneRead()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        QVERIFY(simulator.command("reply supplyd supplySupplyPercent 0.5"));
        TestEnv env;
        FakeGadget gadget;
        Brevdaemon daemon(env.settings(gadget.devicePath()));
        QVERIFY(simulator.command("emit r6 R6_R6RibbonIDs A,B"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("RI2RES,B\r\n"), 1, waitMs);
        gadget.clearReceived();

        QVERIFY(gadget.send("~S,SRFIDREQ\r\n~S,SRFIDREQ\r\nRI2REQ\r\nRI1REQ\r\n~S,STATUSREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("~S,STATUSRES,0\r\n"), 1, waitMs);
        QCOMPARE(withoutKeepAlives(gadget.received()),
                 QByteArray("~S,SRFIDRES,50\r\nRI1RES,A\r\nRI2RES,B\r\n~S,STATUSRES,0\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(simulator.callCount("supplyd supplySupplyPercent"), 2, waitMs);
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(HostQueriesTest)
#include "tst_hostqueries.moc"
