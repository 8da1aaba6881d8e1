// Recognizer throughput and instructions per MiB against a floor that is
// hard to beat on both kinds of data.
//
// Feeds 64 MiB in 1023-byte blocks, the most one read of the port returns,
// from two corpora: random bytes, and label text dense in "^" and "\r\n"
// with few real commands. Every block's matches are first compared with the
// plain reading of the rules (tests/harness/plainparse.h).
//
// Any recognizer of these commands has to find every "^" and every "\r" of
// a block. The floor does only that, in the faster of two ways on each
// corpus: two memchr passes per block (the C library's vector code, fast
// where the bytes are rare), or one loop that counts both bytes (the
// compiler's vector code, fast where they are dense). The recognizer also
// runs on machine words, the scan of processors without a vector unit.
// Each rate is the best of three passes.
//
// The instruction counts come from a second run over 8 MiB of each corpus,
// under callgrind here, or under qemu-user for another machine
// (scripts/bench-armhf.sh). Last line: "ratio: R", the smaller of the two
// recognizer/floor rates.

#include "benchsetup.h"
#include "instructioncount.h"
#include "plainparse.h"

#include <cvparse.h>

#include <QByteArray>
#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

constexpr int corpusSize = 64 << 20;
constexpr int countedSize = 8 << 20;
constexpr int blockSize = 1023;
constexpr int passes = 3;

// ZPL-like labels: every field starts with "^", every line ends in CR LF,
// and one label in a hundred carries a query or a job marker.
QByteArray labelCorpus(int size)
{
    QByteArray corpus;
    corpus.reserve(size + 4096);
    for (int label = 0; corpus.size() < size; ++label) {
        const QByteArray number = QByteArray::number(label);
        corpus += "^XA\r\n^FO50,50^A0N,30,30^FDItem " + number + "^FS\r\n"
                  "^FO50,100^BY2^BCN,100,Y,N,N^FD" + number + "^FS\r\n"
                  "^FO50,250^GB700,3,3^FS\r\n^PQ1,0,1,Y^XZ\r\n";
        if (label % 100 == 0)
            corpus += "~S,STATUSREQ\r\n^K1E\r\n";
    }
    corpus.truncate(size);
    return corpus;
}

using Work = std::function<long(const char *, int)>;

// Runs `work` over every block of the corpus; returns what it adds up.
long overBlocks(const QByteArray &corpus, const Work &work)
{
    long sum = 0;
    for (int offset = 0; offset < corpus.size(); offset += blockSize)
        sum += work(corpus.constData() + offset, std::min(blockSize, corpus.size() - offset));
    return sum;
}

// Megabytes per second of the best of `passes` runs of `work` over every block.
double rate(const QByteArray &corpus, const Work &work, long &sink)
{
    double best = 0;
    for (int pass = 0; pass < passes; ++pass) {
        const auto begin = std::chrono::steady_clock::now();
        sink += overBlocks(corpus, work);
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - begin;
        best = std::max(best, corpus.size() / 1e6 / seconds.count());
    }
    return best;
}

long memchrCount(const char *data, int size, char byte)
{
    long hits = 0;
    const char *const end = data + size;
    for (const char *hit = data;
         (hit = static_cast<const char *>(std::memchr(hit, byte, size_t(end - hit)))); ++hit)
        ++hits;
    return hits;
}

// Counted 64 bytes at a time, which the compiler turns into vector code at
// the package's optimisation level.
long loopCount(const char *data, int size)
{
    long count = 0;
    int at = 0;
    for (; at + 64 <= size; at += 64) {
        unsigned char hits = 0;
        for (int i = 0; i < 64; ++i)
            hits += (data[at + i] == '^') + (data[at + i] == '\r');
        count += hits;
    }
    for (; at < size; ++at)
        count += (data[at] == '^') + (data[at] == '\r');
    return count;
}

struct Contenders
{
    Contenders()
    {
        for (const Literal &literal : hostCatalogue()) {
            parser.addCommand(literal.bytes, literal.id);
            wordParser.addCommand(literal.bytes, literal.id);
        }
        wordParser.scanWith(CandidateScan::Lanes::Words);
    }

    CVParse parser;
    CVParse wordParser;
    // Reset for each block as the daemon resets its view of the read buffer.
    QByteArray view;
    const Work recognizer = [this](const char *data, int size) {
        return long(parser.parse(view.setRawData(data, uint(size))).size());
    };
    const Work words = [this](const char *data, int size) {
        return long(wordParser.parse(view.setRawData(data, uint(size))).size());
    };
    const Work memchrFloor = [](const char *data, int size) {
        return memchrCount(data, size, '^') + memchrCount(data, size, '\r');
    };
    const Work loopFloor = loopCount;
};

// The blocks whose matches differ from the plain reading, or that a scan on
// machine words reads otherwise; returns the number of matches checked.
long check(const char *name, const QByteArray &corpus, Contenders &contenders, int &wrongBlocks)
{
    const Catalogue catalogue = hostCatalogue();
    return overBlocks(corpus, [&](const char *data, int size) {
        const QByteArray block = QByteArray::fromRawData(data, size);
        const QVector<ParseMatch> found = contenders.parser.parse(block);
        const QVector<ParseMatch> plain = plainParse(data, size, catalogue);
        const auto same = [](const QVector<ParseMatch> &a, const QVector<ParseMatch> &b) {
            return a.size() == b.size()
                   && std::equal(a.begin(), a.end(), b.begin(), [](const ParseMatch &x, const ParseMatch &y) {
                          return x.id == y.id && x.start == y.start && x.end == y.end && x.length == y.length;
                      });
        };
        if (!same(found, plain) || !same(contenders.wordParser.parse(block), plain)) {
            if (wrongBlocks++ == 0)
                std::printf("WRONG: %s block at %ld\n", name, long(data - corpus.constData()));
        }
        return long(plain.size());
    });
}

// The counted run: instructions per MiB of each contender on each corpus, or
// on the one corpus named after "--count" (for a profile).
void count(const QStringList &arguments)
{
    Contenders contenders;
    const std::pair<const char *, QByteArray> corpora[] = {{"random", randomBytes(countedSize, 1)},
                                                           {"label", labelCorpus(countedSize)}};
    for (const auto &[name, corpus] : corpora) {
        if (arguments.size() > 2 && arguments[2] != QLatin1String(name))
            continue;
        const auto perMib = [&corpus = corpus](const Work &work) {
            return InstructionCount::measure([&] { overBlocks(corpus, work); });
        };
        const double recognizer = perMib(contenders.recognizer);
        const double words = perMib(contenders.words);
        const double memchrFloor = perMib(contenders.memchrFloor);
        const double loopFloor = perMib(contenders.loopFloor);
        const double floor = std::min(memchrFloor, loopFloor);
        const auto text = [&corpus = corpus](double instructions) {
            return InstructionCount::perMib(instructions, corpus.size());
        };
        std::printf("instructions per MiB, %s: recognizer %s, on machine words %s; floor %s "
                    "(memchr %s, counting loop %s); floor/recognizer %.2f\n",
                    name, text(recognizer).constData(), text(words).constData(), text(floor).constData(),
                    text(memchrFloor).constData(), text(loopFloor).constData(), floor / recognizer);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (InstructionCount::counting(argc, argv)) {
        count(app.arguments());
        return 0;
    }
    Contenders contenders;
    long sink = 0;
    double smallest = 0;
    int wrongBlocks = 0;
    long matches = 0;
    const std::pair<const char *, QByteArray> corpora[] = {{"random", randomBytes(corpusSize, 1)},
                                                           {"label", labelCorpus(corpusSize)}};
    for (const auto &[name, corpus] : corpora) {
        matches += check(name, corpus, contenders, wrongBlocks);
        const double recognizer = rate(corpus, contenders.recognizer, sink);
        const double words = rate(corpus, contenders.words, sink);
        const double memchrFloor = rate(corpus, contenders.memchrFloor, sink);
        const double loopFloor = rate(corpus, contenders.loopFloor, sink);
        const double floor = std::max(memchrFloor, loopFloor);
        const double ratio = recognizer / floor;
        std::printf("%s: recognizer %.0f MB/s (on machine words %.0f); floor %.0f MB/s "
                    "(memchr %.0f, counting loop %.0f); ratio %.3f\n",
                    name, recognizer, words, floor, memchrFloor, loopFloor, ratio);
        smallest = smallest == 0 ? ratio : std::min(smallest, ratio);
    }
    std::printf("%ld matches in %d MiB, %s the plain reading (checksum %ld)\n", matches,
                2 * corpusSize >> 20, wrongBlocks ? "NOT all as" : "all as", sink);
    InstructionCount::runCounted();
    std::printf("ratio: %.3f\n", wrongBlocks ? 0.0 : smallest);
    return 0;
}
