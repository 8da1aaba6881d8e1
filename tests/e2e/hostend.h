#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The host's end of the printer link, opened by path as a host opens its USB
// printer node. Collects every byte the printer sends while the event loop runs.
class HostEnd : public QObject
{
    Q_OBJECT

public:
    ~HostEnd() override;

    bool open(const QString &path);
    // Lets another program (brevctl) have the link; open() takes it back.
    void close();

    bool send(const QByteArray &bytes);
    QByteArray received() const { return m_received; }
    // Complete lines equal to `line` (CR LF included) received so far.
    int countLines(const QByteArray &line) const;

private:
    void readAvailable();

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_received;
};
