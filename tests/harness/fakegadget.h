#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

class QSocketNotifier;

// A raw pseudo-terminal standing in for the USB printer gadget. The daemon
// opens the slave path; the test is the host on the master side. Everything
// the daemon writes is collected in received() as the event loop runs.
class FakeGadget : public QObject
{
    Q_OBJECT

public:
    FakeGadget();
    ~FakeGadget() override;

    bool isOpen() const { return m_master >= 0; }
    QString devicePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Sends bytes as the host would; returns false if not all were taken.
    bool send(const QByteArray &bytes);

    // Sends from a thread of its own, for a daemon that blocks this one
    // while it reads (an update transfer).
    void sendFromThread(const QByteArray &bytes);
    void waitSent();

    // A host that stops (or starts again) reading what the daemon writes.
    void setReading(bool reading);
    // The host end goes away for good, as a pulled cable looks on a terminal.
    void hangUp();
    // From a thread of its own, once the daemon has read all that was sent,
    // hangs up the daemon's end of the line (needs root), for a daemon that
    // blocks this thread while it reads. Call it right after send().
    void hangUpFromThread();

    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // Number of complete lines (ending in CR LF) equal to `line` received so far.
    int countLines(const QByteArray &line) const;

signals:
    void bytesReceived();

private:
    void readAvailable();

    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the pair alive while the daemon has the port closed
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_received;
    std::thread m_sender;
    // Set on destruction: a test that failed early leaves no reader, and a
    // sender waiting for room would wait forever.
    std::atomic<bool> m_stopSending{false};
};
