#pragma once

#include <QProcess>
#include <QTemporaryDir>

// A dbus-daemon of the test's own, standing in for the system bus: anyone may
// own any name and call anything. It exports DBUS_SYSTEM_BUS_ADDRESS, so it
// must be started before anything in the process touches the system bus.
class PrivateBus
{
public:
    ~PrivateBus();

    bool start();

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
};
