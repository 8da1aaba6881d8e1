#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The host's end of a terminal standing in for the printer link: it sends
// what a host sends and collects everything the printer writes while the
// event loop runs.
class HostTerminal : public QObject
{
    Q_OBJECT

public:
    ~HostTerminal() override;

    // Opens a terminal by path, as a host opens its USB printer node.
    bool open(const QString &path);
    // Lets another program have the link; open() takes it back.
    void close();

    // Sends bytes as the host would; returns false if not all were taken.
    bool send(const QByteArray &bytes);
    // A host that stops (or starts again) reading what the printer writes.
    void setReading(bool reading);
    // Bytes the printer wrote that this end has not read yet.
    int unreadByHost() const;

    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // Number of complete lines (ending in CR LF) equal to `line` received so far.
    int countLines(const QByteArray &line) const;

signals:
    void bytesReceived();

protected:
    // Serves `fd` from now on: raw (no CR/LF translation, no signal
    // characters, no echo) and without blocking.
    void attach(int fd);
    int fd() const { return m_fd; }

private:
    void readAvailable();
    void waitForRoom();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_received;
};
