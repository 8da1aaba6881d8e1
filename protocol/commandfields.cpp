#include "protocol/commandfields.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace CommandFields {

QList<QByteArray> endedLineFields(const QByteArray &bytes)
{
    for (int i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r')
            return bytes.left(i).split(',');
        if (bytes[i] == '\n')
            break;
    }
    return {};
}

qint32 integer(const QByteArray &field)
{
    // QByteArray keeps a zero byte after its data, so strtol stops in bounds.
    const long value = std::strtol(field.constData(), nullptr, 10);
    return qint32(std::clamp<long>(value, std::numeric_limits<qint32>::min(),
                                   std::numeric_limits<qint32>::max()));
}

QString text(const QByteArray &field)
{
    return QString::fromLatin1(field.constData());
}

QByteArray untilCarriageReturn(const QByteArray &field)
{
    const int cr = field.indexOf('\r');
    return cr < 0 ? field : field.left(cr);
}

} // namespace CommandFields
