// libFuzzer target: the command recognizer on any block of bytes, with the
// host's commands registered as the daemon registers them.
//
// Every match must lie inside the block; a complete one must hold exactly
// its command's literal, a partial one a proper prefix of some literal
// running to the block's end, and only as the last match. Beyond those
// properties, the whole result must equal the plain reading of the rules.

#include "plainparse.h"

#include <cvparse.h>

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QString describe(const QVector<ParseMatch> &matches)
{
    QStringList text;
    for (const ParseMatch &m : matches)
        text << QStringLiteral("%1@%2+%3(end %4)").arg(m.id).arg(m.start).arg(m.length).arg(m.end);
    return text.join(QLatin1Char(' '));
}

[[noreturn]] void fail(const char *what, const QByteArray &block, const QVector<ParseMatch> &found,
                       const QVector<ParseMatch> &plain)
{
    std::fprintf(stderr, "recognizer: %s\n  block (%d bytes, hex): %s\n  found: %s\n  plain: %s\n", what,
                 int(block.size()), block.toHex().constData(), qPrintable(describe(found)),
                 qPrintable(describe(plain)));
    std::abort();
}

// The literal registered under `id`, or nullptr.
const Literal *literalOf(const Catalogue &catalogue, int id)
{
    for (const Literal &literal : catalogue) {
        if (literal.id == id)
            return &literal;
    }
    return nullptr;
}

bool isProperPrefix(const Catalogue &catalogue, const char *bytes, int length)
{
    for (const Literal &literal : catalogue) {
        if (literal.bytes.size() > length && literal.bytes.startsWith(QByteArray::fromRawData(bytes, length)))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const Catalogue catalogue = hostCatalogue();
    static const CVParse parser = [] {
        CVParse parser;
        for (const Literal &literal : catalogue)
            parser.addCommand(literal.bytes, literal.id);
        return parser;
    }();

    // A view, not a copy, as the daemon hands its read buffer over: a read
    // past the block's end is one past the fuzzer's own allocation.
    const auto bytes = reinterpret_cast<const char *>(data);
    const int length = int(size);
    const QByteArray block = QByteArray::fromRawData(bytes, length);
    const QVector<ParseMatch> found = parser.parse(block);
    const QVector<ParseMatch> plain = plainParse(bytes, length, catalogue);

    int nextFree = 0;
    for (int i = 0; i < found.size(); ++i) {
        const ParseMatch &m = found[i];
        if (m.start < nextFree || m.length < 1 || m.end != m.start + m.length - 1 || m.end >= length)
            fail("a match out of order, overlapping or outside the block", block, found, plain);
        nextFree = m.end + 1;
        if (m.id == ParseMatch::Partial) {
            if (i != found.size() - 1 || m.end != length - 1)
                fail("a partial match that is not last or does not reach the end", block, found, plain);
            if (!isProperPrefix(catalogue, bytes + m.start, m.length))
                fail("a partial match that begins no command", block, found, plain);
            continue;
        }
        const Literal *literal = literalOf(catalogue, m.id);
        if (!literal || block.mid(m.start, m.length) != literal->bytes)
            fail("a complete match that does not hold its command's literal", block, found, plain);
    }
    if (describe(found) != describe(plain))
        fail("a result other than the plain reading", block, found, plain);
    return 0;
}
