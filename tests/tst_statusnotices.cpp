#include "daemonlink.h"
#include "privatebus.h"
#include "services/levelnumber.h"
#include "simulator.h"

#include <QtTest>

#include <cmath>
#include <memory>

namespace {

const int waitMs = 20000;

// The simulated services on the bus, then the daemon, and a way to tell
// that everything emitted so far has reached the host: a status notice
// emitted after it, whose line arrives after theirs.
struct SimulatedServices
{
    bool start()
    {
        if (!simulator.start())
            return false;
        link = std::make_unique<DaemonLink>();
        return QTest::qWaitFor([this] { return simulator.callCount("r6 refreshAll") == 1; }, waitMs);
    }

    // The host's lines since the last call, without keep-alives, once a
    // status notice sent after them has arrived.
    QByteArray settle()
    {
        FakeGadget &gadget = link->gadget;
        const QByteArray witness = "~S,STATUSRES," + QByteArray::number(++witnesses) + "\r\n";
        if (!simulator.command(QStringLiteral("emit r6 R6_Error %1").arg(witnesses))
            || !QTest::qWaitFor([&] { return gadget.received().contains(witness); }, waitMs))
            return "no witness line";
        QByteArray lines = gadget.received().replace("PING\r\n", "");
        gadget.clearReceived();
        return lines.replace(witness, "");
    }

    Simulator simulator;
    std::unique_ptr<DaemonLink> link;
    int witnesses = 0;
};

} // namespace

// Service signals turned into host lines, and the identifiers kept for the queries.
class StatusNoticesTest : public BusTest
{
    Q_OBJECT

private slots:
    // Truncated toward zero; out of the 32-bit range or not a number gives
    // no text, so no line is sent.
    void levelNumber()
    {
        const struct { double fraction; const char *number; } levels[] = {
            {0.29, "28"}, // 0.29 * 100.0 is just below 29
            {0.999, "99"},
            {-0.005, "0"},
            {21474836.47, "2147483647"},
            {-21474836.48, "-2147483648"},
            {21474836.48, ""},
            {-21474836.5, ""},
            {HUGE_VAL, ""},
            {std::nan(""), ""},
        };
        for (const auto &level : levels)
            QCOMPARE(::levelNumber(level.fraction), QString::fromLatin1(level.number));
    }

    void levelNotices()
    {
        SimulatedServices printer;
        QVERIFY(printer.start());
        QVERIFY(printer.simulator.command("emit supplyd SUPPLYD_SupplyPercentChanged 0.29"));
        QVERIFY(printer.simulator.command("emit supplyd SUPPLYD_Ribbon1PercentChanged nan"));
        QVERIFY(printer.simulator.command("emit supplyd SUPPLYD_Ribbon2PercentChanged 1e300"));
        QCOMPARE(printer.settle(), QByteArray("~S,SRFIDRES,28\r\n"));
        QCOMPARE(printer.link->log.count("level out of range:"), 2);
    }

    // An identifier goes out unchanged and its query answers it again, both
    // ribbon lines for either ribbon query; a ribbon list shorter than two
    // never reads past its end. An empty value is kept too: then neither
    // the signal nor the query gives a line, so each row starts afresh.
    void identifiers()
    {
        SimulatedServices printer;
        QVERIFY(printer.start());
        const struct { const char *signal, *value, *query, *lines; } identifiers[] = {
            {"R6_R6SupplyID", "x,1 2", "SIREQ\r\n", "SIRES,x,1 2\r\n"},
            {"R6_R6SupplyUID", "x", "SUIREQ\r\n", "SUIRES,x\r\n"},
            {"R6_R6Ribbon1UID", "x", "RUI1REQ\r\n", "RUI1RES,x\r\n"},
            {"R6_R6Ribbon2UID", "x", "RUI2REQ\r\n", "RUI2RES,x\r\n"},
            {"R6_R6RibbonIDs", "A,B", "RI2REQ\r\n", "RI1RES,A\r\nRI2RES,B\r\n"},
            {"R6_R6RibbonIDs", "A", "RI1REQ\r\n", "RI1RES,A\r\n"},
            {"R6_R6RibbonIDs", "A,B,C", "RI1REQ\r\n", "RI1RES,A\r\nRI2RES,B\r\n"},
            {"R6_R6RibbonIDs", ",B", "RI2REQ\r\n", "RI2RES,B\r\n"},
        };
        for (const auto &row : identifiers)
            for (const QString &value : {QString::fromLatin1(row.value), QString()}) {
                const QByteArray lines = value.isEmpty() ? QByteArray() : QByteArray(row.lines);
                QVERIFY(printer.simulator.command(QStringLiteral("emit r6 %1 \"%2\"").arg(row.signal, value)));
                QCOMPARE(printer.settle(), lines);
                QVERIFY(printer.link->gadget.send(row.query));
                QCOMPARE(printer.settle(), lines);
            }
    }
};

QTEST_GUILESS_MAIN(StatusNoticesTest)
#include "tst_statusnotices.moc"
