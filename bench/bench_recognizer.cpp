// Recognizer throughput against a floor of two memchr passes per block.
//
// Feeds 64 MiB in 1023-byte blocks, the most one read of the port returns,
// from two corpora: random bytes, and label text dense in "^" and "\r\n"
// with few real commands. The floor finds every "^" and every "\r" of each
// block with memchr, which any recognizer of these commands has to match.
// Each figure is the best of three passes. Last line: "ratio: R", the smaller
// of the two recognizer/floor ratios.

#include "benchsetup.h"
#include "protocol/hostlink.h"

#include <cvparse.h>

#include <QByteArray>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

constexpr int corpusSize = 64 << 20;
constexpr int blockSize = 1023;
constexpr int passes = 3;

// ZPL-like labels: every field starts with "^", every line ends in CR LF,
// and one label in a hundred carries a query or a job marker.
QByteArray labelCorpus()
{
    QByteArray corpus;
    corpus.reserve(corpusSize + 4096);
    for (int label = 0; corpus.size() < corpusSize; ++label) {
        const QByteArray number = QByteArray::number(label);
        corpus += "^XA\r\n^FO50,50^A0N,30,30^FDItem " + number + "^FS\r\n"
                  "^FO50,100^BY2^BCN,100,Y,N,N^FD" + number + "^FS\r\n"
                  "^FO50,250^GB700,3,3^FS\r\n^PQ1,0,1,Y^XZ\r\n";
        if (label % 100 == 0)
            corpus += "~S,STATUSREQ\r\n^K1E\r\n";
    }
    corpus.truncate(corpusSize);
    return corpus;
}

// Megabytes per second of the best of `passes` runs of `work` over every block.
double rate(const QByteArray &corpus, const std::function<long(const char *, int)> &work, long &sink)
{
    double best = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const auto begin = std::chrono::steady_clock::now();
        for (int offset = 0; offset < corpus.size(); offset += blockSize)
            sink += work(corpus.constData() + offset, std::min(blockSize, corpus.size() - offset));
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - begin;
        best = std::max(best, corpus.size() / 1e6 / seconds.count());
    }
    return best;
}

long countByte(const char *data, int size, char byte)
{
    long hits = 0;
    const char *const end = data + size;
    for (const char *hit = data;
         (hit = static_cast<const char *>(std::memchr(hit, byte, size_t(end - hit)))); ++hit)
        ++hits;
    return hits;
}

} // namespace

int main()
{
    CVParse parser;
    for (const HostLink::InboundCommand &command : HostLink::inboundCommands)
        parser.addCommand(QByteArray(command.literal), command.id);

    const auto recognize = [&parser](const char *data, int size) {
        return long(parser.parse(QByteArray::fromRawData(data, size)).size());
    };
    const auto floor = [](const char *data, int size) {
        return countByte(data, size, '^') + countByte(data, size, '\r');
    };

    long sink = 0;
    double smallest = 0;
    const std::pair<const char *, QByteArray> corpora[] = {{"random", randomBytes(corpusSize, 1)},
                                                           {"label", labelCorpus()}};
    for (const auto &[name, corpus] : corpora) {
        const double recognizer = rate(corpus, recognize, sink);
        const double memchrFloor = rate(corpus, floor, sink);
        const double ratio = recognizer / memchrFloor;
        std::printf("%s: recognizer %.0f MB/s, memchr floor %.0f MB/s, ratio %.3f\n",
                    name, recognizer, memchrFloor, ratio);
        smallest = smallest == 0 ? ratio : std::min(smallest, ratio);
    }
    std::printf("(checksum %ld)\nratio: %.3f\n", sink, smallest);
    return 0;
}
