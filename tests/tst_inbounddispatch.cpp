#include "daemonlink.h"
#include "privatebus.h"

#include <QtTest>

namespace {

// Without the supply and engine services on the bus, each level or status
// query that runs logs this once; it shows how often queries were dispatched.
const QString failedQuery = QStringLiteral("reply invalid");

} // namespace

class InboundDispatchTest : public BusTest
{
    Q_OBJECT

private slots:
    // The print data before an incomplete command is appended, the command
    // is carried over and runs once, with the next read.
    void commandSplitOverTwoReadsRunsOnce()
    {
        DaemonLink link;
        QVERIFY(link.gadget.send("label data~S,STAT"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("label data"), 10000);
        QVERIFY(link.gadget.send("USREQ\r\nmore"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("label datamore"), 10000);
        QVERIFY(link.gadget.send("after"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("label datamoreafter"), 10000);
        QCOMPARE(link.log.count(failedQuery), 1);
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
        // Print data around queries is kept, the queries' bytes are not.
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

        DaemonLink link;
        QVERIFY(link.gadget.send(read));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(failedQuery), queries, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), jobFile, 10000);
        QCOMPARE(link.log.count(failedQuery), queries);
    }
};

QTEST_GUILESS_MAIN(InboundDispatchTest)
#include "tst_inbounddispatch.moc"
