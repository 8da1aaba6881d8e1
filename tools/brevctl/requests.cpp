#include "requests.h"

#include "linkformat.h"
#include "protocol/hostlink.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonValue>
#include <QStringList>

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
    case Format::Status: return LinkFormat::statusText(payload);
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

QJsonObject answerJson(const QList<QueryItem> &items, const QHash<int, QString> &answers)
{
    QJsonObject object;
    for (const QueryItem &item : items) {
        const bool answered = answers.contains(item.replyId);
        const QString payload = answers.value(item.replyId);
        const QStringList fields = payload.split(QLatin1Char(','));
        const QString key = QString::fromLatin1(item.label).toLower().replace(QLatin1Char(' '), QLatin1Char('_'));
        const auto number = [&](const QString &text) {
            bool isNumber = false;
            const int value = text.toInt(&isNumber);
            return answered && isNumber ? QJsonValue(value) : QJsonValue();
        };
        const auto text = [&](const QString &value) { return answered ? QJsonValue(value) : QJsonValue(); };
        switch (item.format) {
        case Format::Level:
            object.insert(key, number(payload));
            break;
        case Format::Status:
            object.insert(key, number(payload));
            object.insert(key + QLatin1String("_text"), text(LinkFormat::statusMeaning(payload.toInt())));
            break;
        case Format::Text:
            object.insert(key, text(payload));
            break;
        case Format::Version:
            object.insert(QStringLiteral("package"), text(fields.value(0)));
            object.insert(QStringLiteral("engine"), text(payload.section(QLatin1Char(','), 1)));
            break;
        case Format::Network:
            object.insert(QStringLiteral("mode"), number(fields.value(0)));
            object.insert(QStringLiteral("address"), text(fields.value(1)));
            object.insert(QStringLiteral("netmask"), text(fields.value(2)));
            object.insert(QStringLiteral("gateway"), text(fields.value(3)));
            object.insert(QStringLiteral("extra"), text(fields.value(4)));
            break;
        }
    }
    return object;
}

QByteArray readingProbe()
{
    return literal(SoftwareVersion) + literal(PrinterStatus);
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
