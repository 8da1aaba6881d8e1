#pragma once

#include "linkformat.h"

#include <QByteArray>
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

    // Opens the device and locks it: two programs reading one link would
    // split its lines between them, so a second brevctl is refused with the
    // name of the one that holds it. A terminal is put in raw mode and what
    // it holds from before is dropped, so that every line read answers this
    // session.
    bool open(const QString &path);

    // Sends every byte; `progress` (if given) hears the count sent so far
    // after each piece.
    bool send(const QByteArray &bytes, const std::function<void(qint64)> &progress = {});

    enum Wait { GotLine, TimedOut, Failed };
    // Waits up to `timeoutMs` (negative: for ever) for the next line.
    Wait nextLine(QByteArray *line, int timeoutMs);

    QString errorText() const { return m_error; }

private:
    bool fail(const QString &what);
    bool lock();

    int m_fd = -1;
    QString m_path;
    QString m_error;
    LinkFormat::LineSplitter m_splitter;
    QList<QByteArray> m_lines;
};
