#include "protocol/ethernetrecord.h"

#include <QDataStream>
#include <QStringList>

QString ethernetConfigPayload(const QByteArray &record)
{
    QDataStream stream(record);
    qint32 number = 0;
    QString texts[5];
    stream >> number;
    for (QString &text : texts)
        stream >> text;
    return QStringList{QString::number(number, 10), texts[2], texts[3], texts[4], texts[0]}
        .join(QLatin1Char(','));
}
