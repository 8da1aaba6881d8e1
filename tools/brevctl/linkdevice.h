#pragma once

#include "linkformat.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <functional>

// The host's end of the printer link: a device node such as /dev/usb/lp0, or
// any path that behaves like one (a pseudo-terminal).
class LinkDevice
{
public:
    LinkDevice() = default;
    LinkDevice(const LinkDevice &) = delete;
    LinkDevice &operator=(const LinkDevice &) = delete;
    ~LinkDevice();

    enum Opening { Opened, NotADevice, OpenFailed };
    // Opens the device and locks it. Only a character device is taken: any
    // other path (a file named by mistake) would be overwritten by what is
    // sent. Two programs reading one link would split its lines between
    // them, so a second brevctl is refused with the name of the one that
    // holds it. A terminal is put in raw mode and what it holds from before
    // is dropped, so that every line read answers this session.
    Opening open(const QString &path);

    enum Result { Done, TimedOut, Failed, Interrupted };
    // Sends every byte, giving up when the printer takes nothing for
    // `stallTimeoutMs`; `progress` (if given) hears the count sent so far
    // after each piece. `sentCount()` tells how far it got.
    Result send(const QByteArray &bytes, int stallTimeoutMs, const std::function<void(qint64)> &progress = {});
    qint64 sentCount() const { return m_sent; }

    // Waits up to `timeoutMs` (negative: for ever) for the next line; Done
    // when `line` holds it.
    Result nextLine(QByteArray *line, int timeoutMs);

    QString errorText() const { return m_error; }

private:
    bool fail(const QString &what);
    bool lock();
    // Waits for `events` on the device: Done, TimedOut, Interrupted, Failed.
    Result waitFor(short events, const QDeadlineTimer &deadline);

    int m_fd = -1;
    qint64 m_sent = 0;
    int m_interruptionsSeen = 0;
    QString m_path;
    QString m_error;
    LinkFormat::LineSplitter m_splitter;
    QList<QByteArray> m_lines;
};
