#pragma once

#include "privatebus.h"

#include <QByteArray>
#include <QCoreApplication>

// `size` bytes of repeatable random content.
QByteArray randomBytes(int size, quint32 seed);

// The surroundings of a benchmark that runs the daemon in-process: Qt's own
// event dispatcher, as the shipped program chooses it, a silent log (the
// daemon runs without its services), and a private bus.
class DaemonBenchmark
{
public:
    DaemonBenchmark(int &argc, char **argv);
    bool ready() const { return m_ready; }

private:
    struct QtDispatcher
    {
        QtDispatcher();
    };

    QtDispatcher m_dispatcher; // chosen before the application exists
    QCoreApplication m_app;
    PrivateBus m_bus;
    bool m_ready = false;
};
