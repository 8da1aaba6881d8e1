#pragma once

#include <QObject>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/types.h>

// A dbus-daemon of the test's own, standing in for the system bus: anyone may
// own any name and call anything. It exports DBUS_SYSTEM_BUS_ADDRESS, so it
// must be started before anything in the process touches the system bus.
//
// The bus runs as a plain child process that nothing in the event loop
// watches, so that a benchmark's loop polls only what the daemon watches.
class PrivateBus
{
public:
    ~PrivateBus();

    bool start();

private:
    QTemporaryDir m_dir;
    pid_t m_pid = -1;
};

// The base of a test whose cases all talk over a bus: one private bus for
// the whole program, started before the first case.
class BusTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_bus.start()); }

private:
    PrivateBus m_bus;
};
