#include "requests.h"

#include "linkformat.h"
#include "protocol/hostlink.h"

#include <QCryptographicHash>

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

QList<QueryItem> queryItems(const QString &command)
{
    static const QHash<QString, QList<QueryItem>> queries = {
        {QStringLiteral("supply"),
         {{"Supply", SupplyLevel, SupplyLevel, Format::Level},
          {"Ribbon 1", Ribbon1Level, Ribbon1Level, Format::Level},
          {"Ribbon 2", Ribbon2Level, Ribbon2Level, Format::Level}}},
        {QStringLiteral("ribbons"),
         {{"Ribbon 1 level", Ribbon1Level, Ribbon1Level, Format::Level},
          {"Ribbon 1 ID", Ribbon1Id, Ribbon1Id, Format::Text},
          {"Ribbon 1 UID", Ribbon1Uid, Ribbon1Uid, Format::Text},
          {"Ribbon 2 level", Ribbon2Level, Ribbon2Level, Format::Level},
          {"Ribbon 2 ID", Ribbon1Id, Ribbon2Id, Format::Text},
          {"Ribbon 2 UID", Ribbon2Uid, Ribbon2Uid, Format::Text}}},
        {QStringLiteral("status"), {{"Printer status", PrinterStatus, PrinterStatus, Format::Text}}},
        {QStringLiteral("ids"),
         {{"Supply ID", SupplyId, SupplyId, Format::Text},
          {"Ribbon 1 ID", Ribbon1Id, Ribbon1Id, Format::Text},
          {"Ribbon 2 ID", Ribbon1Id, Ribbon2Id, Format::Text}}},
        {QStringLiteral("uids"),
         {{"Supply UID", SupplyUid, SupplyUid, Format::Text},
          {"Ribbon 1 UID", Ribbon1Uid, Ribbon1Uid, Format::Text},
          {"Ribbon 2 UID", Ribbon2Uid, Ribbon2Uid, Format::Text}}},
        {QStringLiteral("version"), {{"", SoftwareVersion, SoftwareVersion, Format::Version}}},
        {QStringLiteral("network"), {{"", EthernetConfig, EthernetConfig, Format::Network}}},
    };
    return queries.value(command);
}

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
