#include "daemon/brevdaemon.h"
#include "fakegadget.h"
#include "privatebus.h"
#include "testenv.h"

#include <QtTest>

class GadgetPortTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_bus.start());
    }

    void keepAliveOnQuietLink()
    {
        TestEnv env;
        FakeGadget gadget;
        QVERIFY(gadget.isOpen());
        Brevdaemon daemon(env.settings(gadget.devicePath()));
        QTRY_COMPARE_WITH_TIMEOUT(gadget.countLines("PING\r\n"), 2, 10000);
        QCOMPARE(gadget.received(), QByteArray("PING\r\nPING\r\n"));
    }

private:
    PrivateBus m_bus;
};

QTEST_GUILESS_MAIN(GadgetPortTest)
#include "tst_gadgetport.moc"
