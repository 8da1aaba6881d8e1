#include "protocol/transferheader.h"

#include "protocol/commandfields.h"

TransferHeader parseTransferHeader(const QByteArray &bytes)
{
    TransferHeader header;
    const int lineEnd = bytes.indexOf('\n');
    const QList<QByteArray> fields = bytes.left(lineEnd).split(',');
    if (lineEnd < 0 || fields.size() < 4) {
        header.problem = TransferHeader::Incomplete;
        return header;
    }
    header.name = CommandFields::text(fields[1]);
    header.size = CommandFields::integer(fields[2]);
    header.digest = QByteArray::fromHex(CommandFields::untilCarriageReturn(fields[3]));
    header.contentOffset = lineEnd + 1;
    if (header.name.isEmpty() || header.name.contains(QLatin1Char('/'))
        || header.name.contains(QLatin1String("..")))
        header.problem = TransferHeader::BadName;
    return header;
}
