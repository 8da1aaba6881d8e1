#include "daemonlink.h"
#include "privatebus.h"
#include "protocol/ethernetrecord.h"
#include "simulator.h"

#include <QtTest>

namespace {

const int waitMs = 20000;

QStringList utilityCalls(const Simulator &simulator)
{
    return simulator.calls().filter(QStringLiteral("cvutility "));
}

} // namespace

class NetworkConfigTest : public BusTest
{
    Q_OBJECT

private slots:
    // Records written out: int32, then UTF-16BE texts behind a 32-bit byte
    // count, 0xFFFFFFFF for a null text.
    void recordBecomesHostPayload_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("payload");
        QTest::newRow("I,T3,T4,T5,T1")
            << QByteArray::fromHex("fffffffe 00000004 003100fc ffffffff 00000002 0061 00000000 00000002 0063")
            << QString::fromUtf8("-2,a,,c,1\xc3\xbc");
        QTest::newRow("all null") << QByteArray::fromHex("00000000 ffffffff ffffffff ffffffff ffffffff ffffffff")
                                  << "0,,,,";
        QTest::newRow("empty record") << QByteArray() << "0,,,,";
        QTest::newRow("ends inside T3") << QByteArray::fromHex("00000007 00000002 006d 00000002 006e 00000006 0078")
                                        << "7,,,,m";
    }

    void recordBecomesHostPayload()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, payload);
        QCOMPARE(ethernetConfigPayload(record), payload);
    }

    // "~U,ETHCONF" sends nothing itself; the line comes with the service's
    // signal, which the simulator emits when asked, and also unasked.
    void commandsReachTheUtilityService()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        DaemonLink link;
        QVERIFY(link.gadget.send("^SETETHCONF,x, 192.168.0.2 ,,d\r\n^SETETHCONF,1,a,b,c\r\n^SETCVSHIP,3\r\n"
                                    "^SETCVSHIP,-12kg\r\n~U,ETHCONF\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~U,ETHCONF,1,a,b,c,\r\n"), 1, waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(utilityCalls(simulator),
                                  QStringList({"cvutility setEthernetConfig 0  192.168.0.2   d",
                                               "cvutility setEthernetConfig 1 a b c", "cvutility setShip 3",
                                               "cvutility setShip -12", "cvutility updateEthernetConfig"}),
                                  waitMs);

        QVERIFY(simulator.command(QStringLiteral("emit cvutility onEthernetConfigChanged 0 m n x y z")));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~U,ETHCONF,0,x,y,z,m\r\n"), 1, waitMs);
    }

    // A command whose fields have not all arrived, or whose line does not
    // end within a full buffer, must not reach the network or the ship
    // setting half-read.
    void commandsWithoutTheirFieldsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("three fields") << QByteArray("^SETETHCONF,1,a,b\r\n");
        QTest::newRow("network line never ends") << "^SETETHCONF,1,a,b," + QByteArray(1100, 'c');
        QTest::newRow("no ship field") << QByteArray("^SETCVSHIP\r\n");
        QTest::newRow("ship line never ends") << "^SETCVSHIP," + QByteArray(1100, '1');
    }

    void commandsWithoutTheirFieldsAreRefused()
    {
        QFETCH(QByteArray, command);
        Simulator simulator;
        QVERIFY(simulator.start());
        DaemonLink link;
        QVERIFY(link.gadget.send(command));
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("~U,ERROR,35\r\n"), 1, waitMs);
        QCOMPARE(link.log.count(QStringLiteral("refused: missing field")), 1);
        // The rest of a command cut short arrives as print data.
        QVERIFY(link.gadget.send("2\r\n^SETCVSHIP,5\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(utilityCalls(simulator), QStringList{"cvutility setShip 5"}, waitMs);
    }

    // A line that a read cut short is completed by the next read; one whose
    // host hangs up first is refused.
    void linesCompletedByTheNextRead()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        DaemonLink link;
        QVERIFY(link.gadget.send("d^SETCVSHIP,3"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.jobFile(), QByteArray("d"), waitMs);
        QVERIFY(link.gadget.send("\r\n^SETETHCONF,1,a,"));
        QTRY_COMPARE_WITH_TIMEOUT(utilityCalls(simulator), QStringList{"cvutility setShip 3"}, waitMs);
        QVERIFY(link.gadget.send("b,c\r\ne^SETCVSHIP,7"));
        QTRY_VERIFY_WITH_TIMEOUT(link.env.jobFile().endsWith("e"), waitMs); // the read was taken
        QTRY_COMPARE_WITH_TIMEOUT(utilityCalls(simulator),
                                  QStringList({"cvutility setShip 3", "cvutility setEthernetConfig 1 a b c"}), waitMs);
        QVERIFY(!link.gadget.received().contains("~U,ERROR,"));

        link.gadget.hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count(QStringLiteral("ship setting refused")), 1, waitMs);
        QCOMPARE(utilityCalls(simulator).size(), 2);
    }
};

QTEST_GUILESS_MAIN(NetworkConfigTest)
#include "tst_networkconfig.moc"
