#include "plainparse.h"

#include "protocol/hostlink.h"

#include <algorithm>
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

CVParse parserFor(const Catalogue &catalogue)
{
    CVParse parser;
    for (const Literal &literal : catalogue)
        parser.addCommand(literal.bytes, literal.id);
    return parser;
}

QVector<CVParse> parsersFor(const Catalogue &catalogue)
{
    QVector<CVParse> parsers;
    for (const CandidateScan::Lanes lanes : CandidateScan::lanesHere()) {
        parsers.append(parserFor(catalogue));
        parsers.last().scanWith(lanes);
    }
    return parsers;
}

QString describe(const ParseMatch &match)
{
    return QStringLiteral("%1@%2+%3").arg(match.id).arg(match.start).arg(match.length);
}

QStringList describe(const QVector<ParseMatch> &matches)
{
    QStringList text;
    for (const ParseMatch &match : matches)
        text << describe(match);
    return text;
}

QString faultIn(const CVParse &parser, const QByteArray &data, const Catalogue &catalogue)
{
    const QVector<ParseMatch> matches = parser.parse(data);
    int firstFree = 0; // the first byte after the previous match
    for (const ParseMatch &m : matches) {
        if (m.start < firstFree || m.length < 1 || m.end != m.start + m.length - 1 || m.end >= data.size())
            return describe(m) + QStringLiteral(" leaves the data or overlaps the match before it");
        if (m.id == ParseMatch::Partial && (&m != &matches.last() || m.end != data.size() - 1))
            return describe(m) + QStringLiteral(" is partial but does not end the data");
        firstFree = m.end + 1;
        const QByteArray held = data.mid(m.start, m.length);
        const bool holdsLiteral = std::any_of(catalogue.begin(), catalogue.end(), [&](const Literal &l) {
            return m.id == ParseMatch::Partial ? l.bytes.size() > m.length && l.bytes.startsWith(held)
                                               : l.id == m.id && l.bytes == held;
        });
        if (!holdsLiteral)
            return describe(m) + QStringLiteral(" holds no literal: ") + QString::fromLatin1(held.toHex());
    }
    const QStringList plain = describe(plainParse(data.constData(), data.size(), catalogue));
    if (describe(matches) != plain)
        return QStringLiteral("%1 instead of %2 in %3")
            .arg(describe(matches).join(' '), plain.join(' '), QString::fromLatin1(data.toHex()));
    return QString();
}
