#pragma once

#include <QTemporaryDir>

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
