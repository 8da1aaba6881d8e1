#include "ethernetrecord.h"

#include <QDataStream>

void EthernetRecord::applySettings(const QVariantList &arguments)
{
    number = arguments.value(0).toInt();
    for (int field = 1; field < 4; ++field)
        texts[field + 1] = arguments.value(field).toString();
}

QByteArray EthernetRecord::encoded() const
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << number;
    for (const QString &text : texts)
        stream << text;
    return bytes;
}
