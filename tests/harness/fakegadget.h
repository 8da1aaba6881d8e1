#pragma once

#include "hostterminal.h"

#include <atomic>
#include <thread>

// A raw pseudo-terminal standing in for the USB printer gadget. The daemon
// opens the slave path; the test is the host on the master side.
class FakeGadget : public HostTerminal
{
    Q_OBJECT

public:
    FakeGadget();
    ~FakeGadget() override;

    QString devicePath() const { return m_slavePath; }
    // Bytes the host sent that the daemon has not read yet.
    int unreadByPrinter() const;

    // Sends from a thread of its own, for a daemon that blocks this one
    // while it reads (an update transfer).
    void sendFromThread(const QByteArray &bytes);
    void waitSent();

    // The host end goes away for good, as a pulled cable looks on a terminal.
    void hangUp();
    // From a thread of its own, once the daemon has read all that was sent,
    // hangs up the daemon's end of the line, for a daemon that blocks this
    // thread while it reads. Call it right after send().
    void hangUpFromThread();
    // Whether this process may hang up a terminal so (TIOCVHANGUP): it takes
    // root, and qemu-user does not pass the request on.
    static bool canHangUpFromThread();

private:
    int m_slaveKeeper = -1; // keeps the pair alive while the daemon has the port closed
    QString m_slavePath;
    std::thread m_sender;
    // Set on destruction: a test that failed early leaves no reader, and a
    // sender waiting for room would wait forever.
    std::atomic<bool> m_stopSending{false};
};
