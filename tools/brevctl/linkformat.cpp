#include "linkformat.h"

#include "protocol/hostlink.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace LinkFormat {

QList<QByteArray> LineSplitter::feed(const QByteArray &bytes)
{
    m_pending += bytes;
    QList<QByteArray> lines;
    int lineEnd;
    while ((lineEnd = m_pending.indexOf('\n')) >= 0) {
        QByteArray line = m_pending.left(lineEnd);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(line);
        m_pending.remove(0, lineEnd + 1);
    }
    return lines;
}

Reply parseReply(const QByteArray &line)
{
    if (line == "PING")
        return {HostLink::KeepAlive, QStringLiteral("PING")};
    for (int id = 1; id <= HostLink::Ribbon2Uid; ++id) {
        const char *prefix = HostLink::outboundPrefix(id);
        if (prefix && line.startsWith(prefix))
            return {id, QString::fromLatin1(line.mid(int(qstrlen(prefix))))};
    }
    return {};
}

QString levelText(const QString &payload)
{
    bool isNumber = false;
    const int level = payload.toInt(&isNumber);
    return isNumber ? QStringLiteral("%1 %").arg(level) : QStringLiteral("? (\"%1\")").arg(payload);
}

QString statusMeaning(int code)
{
    return code == 0 ? QStringLiteral("ready") : QStringLiteral("fault reported by the print engine");
}

QString statusText(const QString &payload)
{
    bool isNumber = false;
    const int code = payload.toInt(&isNumber);
    return isNumber ? QStringLiteral("%1 (%2)").arg(code).arg(statusMeaning(code)) : payload;
}

QString progressBar(int percent, int width)
{
    const int bounded = qBound(0, percent, 100);
    const int filled = bounded * width / 100;
    return QStringLiteral("[%1%2] %3 %")
        .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('-')))
        .arg(bounded, 3);
}

QString errorText(int code)
{
    const char *meaning = HostLink::errorMeaning(code);
    return meaning ? QLatin1String(meaning) : QStringLiteral("unknown error");
}

QString transferText(const QString &name, qint64 sent, qint64 total, qint64 elapsedMs)
{
    const auto megabytes = [](qint64 bytes) { return QString::number(bytes / 1e6, 'f', 1); };
    const qint64 rate = elapsedMs > 0 ? sent / elapsedMs : 0; // bytes per ms are kB/s
    return QStringLiteral("Sending %1: %2 of %3 MB, %4 kB/s").arg(name, megabytes(sent), megabytes(total)).arg(rate);
}

QString watchLine(const QDateTime &when, const QByteArray &line)
{
    QString text;
    for (const char byte : line) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7f)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    return when.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") + text;
}

QByteArray watchJson(const QDateTime &when, const QByteArray &line)
{
    const Reply reply = parseReply(line);
    QJsonObject object{{QStringLiteral("time"), when.toString(Qt::ISODateWithMs)},
                       {QStringLiteral("line"), QString::fromLatin1(line)}};
    if (reply.id >= 0) {
        object.insert(QStringLiteral("id"), reply.id);
        object.insert(QStringLiteral("payload"), reply.payload);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString versionText(const QString &payload)
{
    const int comma = payload.indexOf(QLatin1Char(','));
    return QStringLiteral("Software package: %1\nPrint engine:     %2")
        .arg(payload.left(comma), comma < 0 ? QString() : payload.mid(comma + 1));
}

QString networkText(const QString &payload)
{
    static const char *const labels[] = {"Mode", "Address", "Netmask", "Gateway", "Extra"};
    const QStringList fields = payload.split(QLatin1Char(','));
    QStringList rows;
    for (int index = 0; index < 5; ++index)
        rows.append(QStringLiteral("%1 %2").arg(QLatin1String(labels[index]) + QLatin1Char(':'), -11)
                        .arg(fields.value(index)));
    return rows.join(QLatin1Char('\n'));
}

} // namespace LinkFormat
