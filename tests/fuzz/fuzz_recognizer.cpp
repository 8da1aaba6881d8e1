// libFuzzer target: the command recognizer on any block of bytes, with the
// host's commands registered as the daemon registers them, on both of its
// scans (vector unit and machine words).
//
// Every match must lie inside the block, after the match before it; a
// complete one must hold exactly its command's literal, a partial one a
// proper prefix of some literal, as the last match, up to the block's end;
// and the whole result must equal the plain reading of the rules.

#include "plainparse.h"

#include <cvparse.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const Catalogue catalogue = hostCatalogue();
    static const QVector<CVParse> parsers = parsersFor(catalogue);

    // A view, not a copy, as the daemon hands its read buffer over: a read
    // past the block's end is one past the fuzzer's own allocation.
    const QByteArray block = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    for (const CVParse &parser : parsers) {
        const QString fault = faultIn(parser, block, catalogue);
        if (!fault.isEmpty()) {
            std::fprintf(stderr, "recognizer: %s\n", qPrintable(fault));
            std::abort();
        }
    }
    return 0;
}
