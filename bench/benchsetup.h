#pragma once

#include "privatebus.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <thread>

// `size` bytes of repeatable random content.
QByteArray randomBytes(int size, quint32 seed);

// The surroundings of a benchmark that runs the daemon in-process: the event
// dispatchers that the shipped program chooses, a silent log (the daemon runs
// without its services), and a private bus.
class DaemonBenchmark
{
public:
    DaemonBenchmark(int &argc, char **argv);
    bool ready() const { return m_ready; }

private:
    struct ShippedDispatchers
    {
        ShippedDispatchers();
    };

    ShippedDispatchers m_dispatchers; // chosen before the application exists
    QCoreApplication m_app;
    PrivateBus m_bus;
    bool m_ready = false;
};

// The host's end of a port, sending from a thread of its own.
class HostEnd
{
public:
    virtual ~HostEnd() = default;
    virtual QString devicePath() const = 0;
    virtual void sendFromThread(const QByteArray &bytes) = 0;
    virtual void waitSent() = 0;
};

// A raw pseudo-terminal for the timed runs, or a named pipe of 1 MiB for
// the counted run. A terminal hands its input to the reader in pieces whose
// size follows the kernel's timing; a pipe holds what was written at once,
// so each read takes what it asks for and the counts repeat from run to run.
// The host side of a terminal does not listen while it sends: only the
// reader's port is in the event loop, as on the printer.
std::unique_ptr<HostEnd> hostEnd(bool pipe);
