#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "protocol/ethernetrecord.h"
#include "simulator.h"
#include "testenv.h"

#include <QtTest>

namespace {

const int waitMs = 20000;
const QByteArray refusedLine = "~U,ERROR,35\r\n";

QByteArray record(qint32 number, const QStringList &texts)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << number;
    for (const QString &text : texts)
        stream << text;
    return bytes;
}

// The simulated services on the bus first, then a daemon on a fake gadget.
struct Printer
{
    Simulator simulator;
    const bool servicesStarted = simulator.start();
    TestEnv env;
    FakeGadget gadget;
    Brevdaemon daemon{env.settings(gadget.devicePath())};
};

// The utility service's calls only, in order.
QStringList utilityCalls(const Simulator &simulator)
{
    return simulator.calls().filter(QRegularExpression(QStringLiteral("^cvutility ")));
}

} // namespace

class NetworkConfigTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
    }

    void recordBecomesHostPayload_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("payload");
        const QString null;
        QTest::newRow("I,T3,T4,T5,T1") << record(0, {"m", "n", "x", "y", "z"}) << "0,x,y,z,m";
        QTest::newRow("negative") << record(-1, {"m", "n", "x", "y", "z"}) << "-1,x,y,z,m";
        QTest::newRow("all null") << record(7, {null, null, null, null, null}) << "7,,,,";
        QTest::newRow("empty record") << QByteArray() << "0,,,,";
        QTest::newRow("ends after T2") << record(7, {"m", "n"}) << "7,,,,m";
        QTest::newRow("ends inside T3") << record(7, {"m", "n", "xyz"}).chopped(2) << "7,,,,m";
        // Written out: int32, then UTF-16BE texts behind a 32-bit byte count,
        // 0xFFFFFFFF for a null text.
        QTest::newRow("wire format")
            << QByteArray("\xff\xff\xff\xfe"
                          "\x00\x00\x00\x04\x00\x31\x00\xfc"
                          "\xff\xff\xff\xff"
                          "\x00\x00\x00\x02\x00\x61"
                          "\x00\x00\x00\x00"
                          "\x00\x00\x00\x02\x00\x63",
                          32)
            << QString::fromUtf8("-2,a,,c,1\xc3\xbc");
    }

    void recordBecomesHostPayload()
    {
        QFETCH(QByteArray, record);
        QFETCH(QString, payload);
        QCOMPARE(ethernetConfigPayload(record), payload);
    }

    void commandsReachTheUtilityService()
    {
        Printer printer;
        QVERIFY(printer.servicesStarted);
        QVERIFY(printer.gadget.send("^SETETHCONF,1,a,b,c\r\n^SETETHCONF,x, 192.168.0.2 ,,d\r\n^SETCVSHIP,3\r\n"
                            "^SETCVSHIP,-12kg\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(utilityCalls(printer.simulator),
                                  QStringList({"cvutility setEthernetConfig 1 a b c",
                                               "cvutility setEthernetConfig 0  192.168.0.2   d",
                                               "cvutility setShip 3", "cvutility setShip -12"}),
                                  waitMs);
    }

    // "~U,ETHCONF" sends nothing itself; the line comes with the service's
    // signal, which the simulator emits when asked, and also unasked.
    void configurationComesWithTheSignal()
    {
        Printer printer;
        QVERIFY(printer.servicesStarted);
        QVERIFY(printer.gadget.send("^SETETHCONF,1,a,b,c\r\n~U,ETHCONF\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(printer.gadget.countLines("~U,ETHCONF,1,a,b,c,\r\n"), 1, waitMs);
        QCOMPARE(utilityCalls(printer.simulator),
                 QStringList({"cvutility setEthernetConfig 1 a b c", "cvutility updateEthernetConfig"}));

        QVERIFY(printer.simulator.command(QStringLiteral("emit cvutility onEthernetConfigChanged -1 m - x y z")));
        QTRY_COMPARE_WITH_TIMEOUT(printer.gadget.countLines("~U,ETHCONF,-1,x,y,z,m\r\n"), 1, waitMs);
    }

    // A command whose fields have not all arrived, or whose line has not
    // ended yet, must not reach the network or the ship setting half-read.
    void commandsWithoutTheirFieldsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::newRow("three fields") << QByteArray("^SETETHCONF,1,a,b\r\n");
        QTest::newRow("no fields") << QByteArray("^SETETHCONF\r\n");
        QTest::newRow("network line not ended") << QByteArray("^SETETHCONF,1,a,b,c");
        QTest::newRow("no ship field") << QByteArray("^SETCVSHIP\r\n");
        QTest::newRow("ship line not ended") << QByteArray("^SETCVSHIP,1");
    }

    void commandsWithoutTheirFieldsAreRefused()
    {
        QFETCH(QByteArray, command);
        Printer printer;
        QVERIFY(printer.servicesStarted);
        LogCapture log;
        QVERIFY(printer.gadget.send(command));
        QTRY_COMPARE_WITH_TIMEOUT(printer.gadget.countLines(refusedLine), 1, waitMs);
        QCOMPARE(log.count(QStringLiteral("refused: missing field")), 1);
        // The rest of a command cut short arrives as print data.
        QVERIFY(printer.gadget.send("2\r\n^SETCVSHIP,5\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(utilityCalls(printer.simulator), QStringList{"cvutility setShip 5"}, waitMs);
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(NetworkConfigTest)
#include "tst_networkconfig.moc"
