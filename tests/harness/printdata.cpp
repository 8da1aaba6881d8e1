#include "printdata.h"

#include <QRandomGenerator>

QByteArray printData(int size)
{
    QByteArray data;
    while (data.size() < size) {
        const auto byte = char(QRandomGenerator::global()->bounded(256));
        if (byte != '^' && byte != 'E' && byte != '\r')
            data += byte;
    }
    return data + "\x03\x1a";
}

QByteArray twoMarkerJob()
{
    return "^Z1^K5" + printData(20000) + "E\r\n" + printData(5000) + "E\r\n";
}
