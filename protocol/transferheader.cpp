#include "protocol/transferheader.h"

#include "protocol/commandfields.h"

#include <algorithm>

namespace {

// A NUL would cut the name short, and a line end or an escape sequence in a
// file name misleads whoever lists the folder.
bool holdsControlByte(const QByteArray &field)
{
    return std::any_of(field.begin(), field.end(),
                       [](char byte) { return static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f; });
}

} // namespace

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
        || header.name.contains(QLatin1String("..")) || holdsControlByte(fields[1]))
        header.problem = TransferHeader::BadName;
    return header;
}
