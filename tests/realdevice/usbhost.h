#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The host computer's end of the USB printer link: the usblp node, opened
// non-blocking and served by the event loop, so that a printer that takes
// nothing never blocks the test. Sending queues the bytes and writes them as
// the driver takes them; everything the printer sends is collected while
// reading is on. A host that stops reading is reading switched off.
class UsbHost : public QObject
{
    Q_OBJECT

public:
    ~UsbHost() override;

    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_fd >= 0; }

    void send(const QByteArray &bytes);
    bool allSent() const { return m_pending.isEmpty(); }
    void setReading(bool on);

    QByteArray received() const { return m_received; }
    // Complete lines equal to `line` (CR LF included) received so far.
    int countLines(const QByteArray &line) const;

private:
    void readAvailable();
    void writePending();

    int m_fd = -1;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_pending;
    QByteArray m_received;
};
