#include "daemonlink.h"
#include "privatebus.h"
#include "simulator.h"

#include <QtTest>

namespace {

const int waitMs = 20000;

// The longest time the event loop went without running, since it was made:
// how long the daemon on that loop was held up.
class LongestStall : public QObject
{
public:
    LongestStall()
    {
        m_sinceTick.start();
        m_ticks.callOnTimeout(this, [this] { m_longestMs = qMax(m_longestMs, m_sinceTick.restart()); });
        m_ticks.start(10);
    }
    qint64 ms() const { return qMax(m_longestMs, m_sinceTick.elapsed()); }

private:
    QTimer m_ticks;
    QElapsedTimer m_sinceTick;
    qint64 m_longestMs = 0;
};

} // namespace

// The daemon's connections to the print-engine, supply and utility services,
// against the simulator on a private bus.
class ServiceConnectionsTest : public BusTest
{
    Q_OBJECT

private slots:
    // The services come up after the daemon: the print engine and the supply
    // service are picked up when they register, the utility service is not.
    void servicesRegisteringLate()
    {
        DaemonLink link;
        for (const char *logName : {"r6d", "sid", "utilityd"})
            QCOMPARE(link.log.count(QStringLiteral("Failed to create the interface to ") + logName), 1);

        Simulator simulator;
        QVERIFY(simulator.start());
        QTRY_COMPARE_WITH_TIMEOUT(simulator.callCount("r6 refreshAll"), 1, waitMs);

        // Every print-engine signal reaches its slot; the utility's, emitted
        // first, never arrives.
        for (const char *command : {"cvutility onEthernetConfigChanged 7 a b c d e", "r6 R6_Error -3",
                                    "r6 R6_R6SupplyID S1", "r6 R6_R6SupplyUID U1", "r6 R6_R6RibbonIDs A,B",
                                    "r6 R6_R6Ribbon1UID V1", "r6 R6_R6Ribbon2UID V2", "r6 R6_PrintQueueFull",
                                    "r6 R6_PrintQueueComplete"})
            QVERIFY(simulator.command(QStringLiteral("emit ") + QLatin1String(command)));
        for (const char *line : {"~S,STATUSRES,-3\r\n", "SIRES,S1\r\n", "SUIRES,U1\r\n", "RI1RES,A\r\n",
                                 "RI2RES,B\r\n", "RUI1RES,V1\r\n", "RUI2RES,V2\r\n"})
            QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(line), 1, waitMs);
        QVERIFY(!link.gadget.received().contains("~U,ETHCONF,"));
        QTRY_COMPARE_WITH_TIMEOUT(link.env.calls("lp").size(), 1, waitMs); // the full queue's retry
        QCOMPARE(link.log.count("Enable read of next job"), 1);

        // The supply signals too: the supply service registered before the
        // print engine's signals above, so its pass has run by now.
        QVERIFY(simulator.command("emit supplyd SUPPLYD_SupplyPercentChanged 0.5"));
        QVERIFY(simulator.command("emit supplyd SUPPLYD_Ribbon1PercentChanged 0.29"));
        QVERIFY(simulator.command("emit supplyd SUPPLYD_Ribbon2PercentChanged 1"));
        for (const char *line : {"~S,SRFIDRES,50\r\n", "~S,R1RFIDRES,28\r\n", "~S,R2RFIDRES,100\r\n"})
            QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(line), 1, waitMs);
        QCOMPARE(link.log.count("failed to"), 0); // no subscription failed
    }

    // Only the exact names of the two watched services run a connection pass
    // again. After each pass, called here or by a restart of the print engine,
    // the daemon asks the new service and every signal reaches its slot once,
    // however often it subscribed, and no pass reports a failed subscription.
    void connectionPassRunsAgain()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        QVERIFY(simulator.command("emit r6 R6_R6SupplyID S1")); // re-emitted on every refreshAll
        DaemonLink link;
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("SIRES,S1\r\n"), 1, waitMs);
        for (const char *name : {"com.corvane.R6", "com.corvane.r6"})
            QVERIFY(QMetaObject::invokeMethod(&link.daemon, "onServiceRegistered", Q_ARG(QString, QLatin1String(name))));
        QCOMPARE(link.log.count("Unknown service created: \"com.corvane.R6\""), 1);
        QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("SIRES,S1\r\n"), 2, waitMs);

        for (int restart = 1; restart <= 2; ++restart) {
            QVERIFY(simulator.command("stop r6"));
            QVERIFY(simulator.command(QStringLiteral("reply r6 getError %1").arg(-restart)));
            QVERIFY(simulator.command("start r6"));
            QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("SIRES,S1\r\n"), restart + 2, waitMs);
            QVERIFY(link.gadget.send("~S,STATUSREQ\r\n"));
            QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(QStringLiteral("~S,STATUSRES,%1\r\n").arg(-restart).toLatin1()),
                                      1, waitMs);

            // The queue-complete slot logs each delivery; a later signal's
            // line shows that all deliveries of the first have happened.
            QVERIFY(simulator.command("emit r6 R6_PrintQueueComplete"));
            const QString witness = QStringLiteral("U%1").arg(restart);
            QVERIFY(simulator.command(QStringLiteral("emit r6 R6_R6SupplyUID ") + witness));
            QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines("SUIRES," + witness.toLatin1() + "\r\n"), 1, waitMs);
            QCOMPARE(link.log.count("Enable read of next job"), restart);
        }
        QTRY_COMPARE_WITH_TIMEOUT(simulator.callCount("r6 refreshAll"), 4, waitMs); // never for the unknown name
        QCOMPARE(link.log.count("failed to"), 0);
    }

    // Services that own their names and never answer, introspection
    // included: connecting to them, at start and when one registers again,
    // does not wait for them at all, and a read of queries to them is held
    // up for one call bound per service. Their signals still reach the host.
    void servicesThatNeverAnswer()
    {
        Simulator simulator;
        QVERIFY(simulator.start());
        for (const char *service : {"r6", "supplyd", "cvutility"})
            QVERIFY(simulator.command(QStringLiteral("hang ") + QLatin1String(service)));
        QElapsedTimer sinceStart;
        sinceStart.start();
        DaemonLink link;
        const qint64 portOpenMs = sinceStart.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(link.gadget.countLines("PING\r\n") >= 1, waitMs);
        const int boundMs = link.settings.serviceCallTimeoutMs;
        qInfo("start: port open after %lld ms, first PING after %lld ms (PING interval %d ms)", portOpenMs,
              sinceStart.elapsed(), link.settings.pingIntervalMs);
        QVERIFY2(portOpenMs < boundMs, qPrintable(QString::number(portOpenMs)));

        LongestStall registering;
        QVERIFY(simulator.command("stop r6"));
        QVERIFY(simulator.command("start r6"));
        QVERIFY(simulator.command("emit r6 R6_R6SupplyID S1"));
        QVERIFY(simulator.command("emit supplyd SUPPLYD_SupplyPercentChanged 0.5"));
        for (const char *line : {"SIRES,S1\r\n", "~S,SRFIDRES,50\r\n"})
            QTRY_COMPARE_WITH_TIMEOUT(link.gadget.countLines(line), 1, waitMs);
        qInfo("print engine registering again: held up %lld ms", registering.ms());
        QVERIFY2(registering.ms() < boundMs, qPrintable(QString::number(registering.ms())));

        LongestStall querying;
        const int pingsBefore = link.gadget.countLines("PING\r\n");
        QVERIFY(link.gadget.send("~S,SRFIDREQ\r\n~S,R1RFIDREQ\r\n~S,STATUSREQ\r\n~U,SOFTVER\r\n"
                                 "~U,ETHCONF\r\n^SETCVSHIP,1\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(link.log.count("reply invalid"), 2, waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(link.gadget.countLines("PING\r\n") > pingsBefore, waitMs);
        qInfo("a read of queries to two of them: held up %lld ms (call bound %d ms)", querying.ms(), boundMs);
        QVERIFY2(querying.ms() < 2 * boundMs + boundMs / 2, qPrintable(QString::number(querying.ms())));
        QCOMPARE(link.log.count("not asked, it did not answer before:"), 2);
    }
};

QTEST_GUILESS_MAIN(ServiceConnectionsTest)
#include "tst_serviceconnections.moc"
