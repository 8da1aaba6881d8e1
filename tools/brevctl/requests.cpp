#include "requests.h"

#include "linkformat.h"
#include "protocol/hostlink.h"

#include <QCryptographicHash>
#include <QHash>

#include <algorithm>

namespace Requests {

namespace {

using namespace HostLink;

QByteArray literal(int id)
{
    const auto found = std::find_if(inboundCommands.begin(), inboundCommands.end(),
                                    [id](const InboundCommand &command) { return command.id == id; });
    return QByteArray(found->literal);
}

QString formatted(const QueryItem &item, const QString &payload)
{
    switch (item.format) {
    case Format::Level: return LinkFormat::levelText(payload);
    case Format::Version: return LinkFormat::versionText(payload);
    case Format::Network: return LinkFormat::networkText(payload);
    case Format::Text: break;
    }
    return payload;
}

} // namespace

QByteArray queryBytes(const QList<QueryItem> &items)
{
    QByteArray bytes;
    for (const QueryItem &item : items) {
        const QByteArray request = literal(item.requestId);
        if (!bytes.contains(request))
            bytes += request;
    }
    return bytes;
}

QString answerText(const QList<QueryItem> &items, const QHash<int, QString> &answers)
{
    QStringList rows;
    for (const QueryItem &item : items) {
        const QString value = answers.contains(item.replyId) ? formatted(item, answers.value(item.replyId))
                                                              : QStringLiteral("no answer");
        rows.append(qstrlen(item.label) == 0
                        ? value
                        : QStringLiteral("%1 %2").arg(QLatin1String(item.label) + QLatin1Char(':'), -16).arg(value));
    }
    return rows.join(QLatin1Char('\n'));
}

bool isWholeJob(const QByteArray &content)
{
    const int jobMarker = content.indexOf(literal(JobEndCount));
    return jobMarker >= 0 && content.indexOf(literal(JobEndMarker), jobMarker) > jobMarker;
}

QByteArray transfer(const QString &name, const QByteArray &content)
{
    const QByteArray digest = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
    return literal(Transfer) + ',' + name.toLatin1() + ',' + QByteArray::number(content.size()) + ','
           + digest + "\r\n" + content;
}

QByteArray setNetwork(const QStringList &arguments)
{
    return literal(SetEthernetConfig) + ',' + arguments.join(QLatin1Char(',')).toLatin1() + "\r\n";
}

QByteArray setShip(const QString &value)
{
    return literal(SetShip) + ',' + value.toLatin1() + "\r\n";
}

} // namespace Requests
