#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What brevctl sends to the printer, and which answers a query waits for.
namespace Requests {

enum class Format { Level, Text, Status, Version, Network };

// One value a query shows: the request that asks for it and the answer
// line's id. Several values may share one request ("RI1REQ" answers both
// ribbon IDs).
struct QueryItem
{
    const char *label; // empty: the formatted answer stands alone
    int requestId;
    int replyId;
    Format format;
};

// The request lines of the items, each request once, in item order.
QByteArray queryBytes(const QList<QueryItem> &items);

// The items as a person reads them, from the answers by reply id; an item
// without an answer reads "no answer".
QString answerText(const QList<QueryItem> &items, const QHash<int, QString> &answers);

// The same as JSON: each item under its label in lower case with "_" for
// blanks; levels and codes as numbers, version and network as their fields;
// null for an item without an answer.
QJsonObject answerJson(const QList<QueryItem> &items, const QHash<int, QString> &answers);

// Queries the printer answers only once it reads the link, whatever it
// did before: an answer to them sent after a job or a command shows that
// the printer has read that too and reads again.
QByteArray readingProbe();

// "^XFER,<name>,<size>,<md5 hex>\r\n" followed by the content.
QByteArray transfer(const QString &name, const QByteArray &content);

// "^SETETHCONF,MODE,A,B,C\r\n" from the four command arguments.
QByteArray setNetwork(const QStringList &arguments);

// "^SETCVSHIP,N\r\n".
QByteArray setShip(const QString &value);

} // namespace Requests
