#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// How brevctl reads the printer's lines and shows them to a person.
namespace LinkFormat {

// Cuts the byte stream from the printer into lines. Lines end in CR LF; a
// lone LF is accepted too. Bytes after the last line end wait for more.
class LineSplitter
{
public:
    // Adds bytes and returns the lines they complete, without line ends.
    QList<QByteArray> feed(const QByteArray &bytes);

private:
    QByteArray m_pending;
};

struct Reply
{
    int id = -1; // message id of the line's prefix, -1 when none matches
    QString payload;
};

// Recognises a line from the printer by its prefix; "PING" is the keep-alive.
Reply parseReply(const QByteArray &line);

// A level number as a percentage: "42" -> "42 %".
QString levelText(const QString &payload);

// What a status code means: "ready" for 0.
QString statusMeaning(int code);
// A status code with its meaning: "0 (ready)".
QString statusText(const QString &payload);

// "[#########-----------]  45 %", the bar `width` characters wide.
QString progressBar(int percent, int width = 30);

// What a "~U,ERROR," code means, for a person.
QString errorText(int code);

// "Sending NAME: 1.2 of 30.0 MB, 850 kB/s".
QString transferText(const QString &name, qint64 sent, qint64 total, qint64 elapsedMs);

// One line as `watch` shows it: a time stamp, then the text with control
// bytes written as escapes.
QString watchLine(const QDateTime &when, const QByteArray &line);

// One line as `watch --json` shows it: an object with the time stamp, the
// line, and its id and payload when its prefix is known.
QByteArray watchJson(const QDateTime &when, const QByteArray &line);

// The "~U,SOFTVER," payload: package version, engine version.
QString versionText(const QString &payload);

// The "~U,ETHCONF," payload: five fields, the first four in the order that
// set-network takes them.
QString networkText(const QString &payload);

} // namespace LinkFormat
