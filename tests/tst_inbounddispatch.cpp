#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "testenv.h"

#include <QtTest>

namespace {

// Without the supply and engine services on the bus, each level or status
// query that runs logs this once; it shows how often queries were dispatched.
const QString failedQuery = QStringLiteral("reply invalid");

// The daemon on a pseudo-terminal, with the keep-alive out of the way.
struct Link
{
    static DaemonSettings quiet(DaemonSettings settings)
    {
        settings.pingIntervalMs = 600000;
        return settings;
    }

    TestEnv env;
    FakeGadget gadget;
    LogCapture log;
    Brevdaemon daemon{quiet(env.settings(gadget.devicePath()))};
};

} // namespace

class InboundDispatchTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
    }

    void commandSplitOverTwoReadsRunsOnce()
    {
        Link link;
        // The complete query shows when the first read has been handled.
        QVERIFY(link.gadget.send("~S,SRFIDREQ\r\n~S,STAT"));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), 1, 10000);
        QVERIFY(link.gadget.send("USREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), 2, 10000);

        QVERIFY(link.gadget.send("after"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("after"), 10000);
        QCOMPARE(link.log.count(failedQuery), 2);
    }

    void printDataBeforeAPartialCommand()
    {
        Link link;
        QVERIFY(link.gadget.send("label data~S,STAT"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("label data"), 10000);
        QVERIFY(link.gadget.send("USREQ\r\nmore"));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), 1, 10000);
        QCOMPARE(link.env.jobFile(), QByteArray("label datamore"));
    }

    // One read each: what goes into the job file around the commands.
    void jobFileAroundCommands_data()
    {
        QTest::addColumn<QByteArray>("read");
        QTest::addColumn<QByteArray>("jobFile");
        QTest::addColumn<int>("queries");

        QTest::newRow("no command") << QByteArray("^FO50,50^FDplain\r\n") << QByteArray("^FO50,50^FDplain\r\n") << 0;
        QTest::newRow("only queries") << QByteArray("~S,SRFIDREQ\r\n~S,STATUSREQ\r\n~S,R1RFIDREQ\r\n")
                                      << QByteArray() << 3;
        // Print data before a query is kept, the query's bytes are not.
        QTest::newRow("data before a query") << QByteArray("data~S,STATUSREQ\r\n") << QByteArray("data") << 1;
        QTest::newRow("data between queries")
            << QByteArray("d1~S,SRFIDREQ\r\nd2~S,STATUSREQ\r\nd3") << QByteArray("d1d2d3") << 2;
        QTest::newRow("data after a marker, before a query")
            << QByteArray("^K5ab~S,STATUSREQ\r\ncd") << QByteArray("^K5abcd") << 1;
        // A job marker takes everything before it along, commands included.
        QTest::newRow("query before a marker")
            << QByteArray("a~S,STATUSREQ\r\nb^K5c") << QByteArray("a~S,STATUSREQ\r\nb^K5c") << 1;
    }

    void jobFileAroundCommands()
    {
        QFETCH(QByteArray, read);
        QFETCH(QByteArray, jobFile);
        QFETCH(int, queries);

        Link link;
        QVERIFY(link.gadget.send(read));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), queries, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), jobFile, 10000);
        QCOMPARE(link.log.count(failedQuery), queries);
    }

    void queriesAreAnsweredInReadOrder()
    {
        Link link;
        QMetaObject::invokeMethod(&link.daemon, "supplyIDChanged", Q_ARG(QString, "S7"));
        QMetaObject::invokeMethod(&link.daemon, "supplyUIDChanged", Q_ARG(QString, "U7"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.received(), QByteArray("SIRES,S7\r\nSUIRES,U7\r\n"), 10000);

        link.gadget.clearReceived();
        QVERIFY(link.gadget.send("SUIREQ\r\nSIREQ\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.received(), QByteArray("SUIRES,U7\r\nSIRES,S7\r\n"), 10000);
        QCOMPARE(link.env.jobFile(), QByteArray());
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(InboundDispatchTest)
#include "tst_inbounddispatch.moc"
