#include "valuetext.h"

#include <QStringList>

#include <limits>

namespace {

template <typename Number>
QString readInteger(const QString &text, QVariant &value)
{
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    if (!ok || number < qlonglong(std::numeric_limits<Number>::min())
        || number > qlonglong(std::numeric_limits<Number>::max()))
        return QStringLiteral("not an integer of the right range: ") + text;
    value = QVariant::fromValue(Number(number));
    return QString();
}

QString readBytes(const QString &text, QVariant &value)
{
    const QLatin1String prefix("hex:");
    const QByteArray hex = text.mid(prefix.size()).toLatin1();
    if (!text.startsWith(prefix) || hex.size() % 2 != 0
        || QByteArray::fromHex(hex).toHex() != hex.toLower())
        return QStringLiteral("bytes are written hex:<pairs of hex digits>, not ") + text;
    value = QByteArray::fromHex(hex);
    return QString();
}

} // namespace

QString parseValue(const QString &type, const QString &text, QVariant &value)
{
    if (type == QLatin1String("i"))
        return readInteger<qint32>(text, value);
    if (type == QLatin1String("u"))
        return readInteger<quint32>(text, value);
    if (type == QLatin1String("x"))
        return readInteger<qint64>(text, value);
    if (type == QLatin1String("y"))
        return readInteger<uchar>(text, value);
    if (type == QLatin1String("s")) {
        value = text;
        return QString();
    }
    if (type == QLatin1String("as")) {
        value = text.isEmpty() ? QStringList() : text.split(QLatin1Char(','));
        return QString();
    }
    if (type == QLatin1String("ay"))
        return readBytes(text, value);
    if (type == QLatin1String("b")) {
        if (text != QLatin1String("true") && text != QLatin1String("false"))
            return QStringLiteral("not true or false: ") + text;
        value = text == QLatin1String("true");
        return QString();
    }
    if (type == QLatin1String("d")) {
        bool ok = false;
        value = text.toDouble(&ok); // also reads "nan", "inf" and "-inf"
        return ok ? QString() : QStringLiteral("not a number: ") + text;
    }
    return QStringLiteral("unknown type ") + type;
}

QString formatValue(const QVariant &value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    if (value.type() == QVariant::ByteArray)
        return QStringLiteral("hex:") + QString::fromLatin1(value.toByteArray().toHex());
    return value.toString();
}
