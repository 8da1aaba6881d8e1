#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "services/levelnumber.h"
#include "simulator.h"
#include "testenv.h"

#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

const int waitMs = 20000;

// The daemon with the simulated services on the bus, and a way to tell that
// everything emitted so far has reached the host: a status notice emitted
// after it, whose line arrives after theirs.
class SimulatedPrinter
{
public:
    bool start()
    {
        if (!simulator.start())
            return false;
        daemon = std::make_unique<Brevdaemon>(env.settings(gadget.devicePath()));
        return QTest::qWaitFor([this] { return simulator.callCount("r6 refreshAll") == 1; }, waitMs);
    }

    bool emitSignal(const QString &arguments)
    {
        return simulator.command(QStringLiteral("emit r6 ") + arguments);
    }

    // The host's lines since the last call, without keep-alives, once a
    // status notice sent after them has arrived.
    QByteArray settle()
    {
        const QByteArray witness = "~S,STATUSRES," + QByteArray::number(++m_witnesses) + "\r\n";
        if (!emitSignal(QStringLiteral("R6_Error %1").arg(m_witnesses))
            || !QTest::qWaitFor([&] { return gadget.received().contains(witness); }, waitMs))
            return "no witness line";
        QByteArray lines = gadget.received().replace("PING\r\n", "");
        gadget.clearReceived();
        return lines.replace(witness, "");
    }

    TestEnv env;
    FakeGadget gadget;
    Simulator simulator;
    std::unique_ptr<Brevdaemon> daemon;

private:
    int m_witnesses = 0;
};

} // namespace

// Service signals turned into host lines, and the identifiers kept for the queries.
class StatusNoticesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
    }

    void levelNumber_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<QString>("number");
        QTest::newRow("half") << 0.5 << "50";
        QTest::newRow("full") << 1.0 << "100";
        QTest::newRow("just below one") << 0.999 << "99";
        QTest::newRow("0.29 is just below 29 percent") << 0.29 << "28";
        QTest::newRow("small negative truncates to 0") << -0.005 << "0";
        QTest::newRow("negative") << -0.5 << "-50";
        QTest::newRow("largest in range") << 21474836.47 << "2147483647";
        QTest::newRow("smallest in range") << -21474836.48 << "-2147483648";
        QTest::newRow("above range") << 21474836.48 << "";
        QTest::newRow("below range") << -21474836.5 << "";
        QTest::newRow("huge") << 1e300 << "";
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "";
        QTest::newRow("not a number") << std::nan("") << "";
    }

    // Out of range and not-a-number give no text, so no line is sent.
    void levelNumber()
    {
        QFETCH(double, fraction);
        QFETCH(QString, number);
        QCOMPARE(::levelNumber(fraction), number);
    }

    void levelNotices()
    {
        SimulatedPrinter printer;
        QVERIFY(printer.start());
        LogCapture log;
        QVERIFY(printer.simulator.command("emit supplyd SUPPLYD_SupplyPercentChanged 0.29"));
        QVERIFY(printer.simulator.command("emit supplyd SUPPLYD_Ribbon1PercentChanged nan"));
        QVERIFY(printer.simulator.command("emit supplyd SUPPLYD_Ribbon2PercentChanged 1e300"));
        QVERIFY(printer.simulator.command("emit supplyd SUPPLYD_Ribbon1PercentChanged -0.005"));
        QCOMPARE(printer.settle(), QByteArray("~S,SRFIDRES,28\r\n~S,R1RFIDRES,0\r\n"));
        QCOMPARE(log.count("level out of range:"), 2);
    }

    void ribbonIdLists_data()
    {
        QTest::addColumn<QString>("ids");
        QTest::addColumn<QByteArray>("lines");
        QTest::newRow("two") << "A,B" << QByteArray("RI1RES,A\r\nRI2RES,B\r\n");
        QTest::newRow("one") << "A" << QByteArray("RI1RES,A\r\n");
        QTest::newRow("three") << "A,B,C" << QByteArray("RI1RES,A\r\nRI2RES,B\r\n");
        QTest::newRow("first empty") << ",B" << QByteArray("RI2RES,B\r\n");
        QTest::newRow("none") << "" << QByteArray();
    }

    // Both ribbon lines go out for every list, and both queries answer the
    // same lines from the kept list; a short list never reads past its end.
    void ribbonIdLists()
    {
        QFETCH(QString, ids);
        QFETCH(QByteArray, lines);
        SimulatedPrinter printer;
        QVERIFY(printer.start());
        QVERIFY(printer.emitSignal(QStringLiteral("R6_R6RibbonIDs ") + ids));
        QCOMPARE(printer.settle(), lines);
        for (const char *query : {"RI1REQ\r\n", "RI2REQ\r\n"}) {
            QVERIFY(printer.gadget.send(query));
            QCOMPARE(printer.settle(), lines);
        }
    }

    void identifiers_data()
    {
        QTest::addColumn<QString>("signal");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("prefix");
        QTest::newRow("supply ID") << "R6_R6SupplyID" << QByteArray("SIREQ\r\n") << QByteArray("SIRES,");
        QTest::newRow("supply UID") << "R6_R6SupplyUID" << QByteArray("SUIREQ\r\n") << QByteArray("SUIRES,");
        QTest::newRow("ribbon 1 UID") << "R6_R6Ribbon1UID" << QByteArray("RUI1REQ\r\n") << QByteArray("RUI1RES,");
        QTest::newRow("ribbon 2 UID") << "R6_R6Ribbon2UID" << QByteArray("RUI2REQ\r\n") << QByteArray("RUI2RES,");
    }

    // An identifier goes out unchanged and is kept for its query; an empty
    // one sends nothing and is kept too, so the query then answers nothing.
    void identifiers()
    {
        QFETCH(QString, signal);
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, prefix);
        SimulatedPrinter printer;
        QVERIFY(printer.start());
        const QByteArray line = prefix + "x,1 2\r\n";

        QVERIFY(printer.emitSignal(signal + QStringLiteral(" \"x,1 2\"")));
        QCOMPARE(printer.settle(), line);
        QVERIFY(printer.gadget.send(query));
        QCOMPARE(printer.settle(), line);

        QVERIFY(printer.emitSignal(signal + QStringLiteral(" \"\"")));
        QCOMPARE(printer.settle(), QByteArray());
        QVERIFY(printer.gadget.send(query));
        QCOMPARE(printer.settle(), QByteArray());
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(StatusNoticesTest)
#include "tst_statusnotices.moc"
