#include "plainparse.h"

#include "protocol/hostlink.h"

#include <cstring>

Catalogue hostCatalogue()
{
    Catalogue catalogue;
    for (const HostLink::InboundCommand &command : HostLink::inboundCommands)
        catalogue.append({QByteArray(command.literal), command.id});
    return catalogue;
}

QVector<ParseMatch> plainParse(const char *data, int size, const Catalogue &catalogue)
{
    const auto startsWith = [&](int position, const QByteArray &bytes, int length) {
        return position + length <= size && std::memcmp(data + position, bytes.constData(), size_t(length)) == 0;
    };
    QVector<ParseMatch> result;
    int afterLast = 0;
    for (int position = 0; position < size; ++position) {
        const Literal *longest = nullptr;
        for (const Literal &literal : catalogue) {
            if (startsWith(position, literal.bytes, literal.bytes.size())
                && (!longest || literal.bytes.size() > longest->bytes.size()))
                longest = &literal;
        }
        if (longest) {
            const int length = longest->bytes.size();
            result.append({longest->id, position, position + length - 1, length});
            afterLast = position + length;
            position = afterLast - 1;
        }
    }
    for (int start = afterLast; start < size; ++start) {
        for (const Literal &literal : catalogue) {
            if (literal.bytes.size() > size - start && startsWith(start, literal.bytes, size - start)) {
                result.append({ParseMatch::Partial, start, size - 1, size - start});
                return result;
            }
        }
    }
    return result;
}
