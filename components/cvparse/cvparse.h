#pragma once

#include "candidatescan.h"

#include <QByteArray>
#include <QVector>

#include <bitset>
#include <cstdint>
#include <vector>

// One command found by CVParse::parse. For a complete match `id` is the
// registered id and `end` is start + length - 1. A partial match (id
// ParseMatch::Partial) covers the bytes from `start` to the end of the input,
// which may begin a command whose rest has not arrived yet.
struct ParseMatch
{
    enum { Partial = -2 };
    qint32 id;
    qint32 start;
    qint32 end;
    qint32 length;
};

// Finds registered byte literals in a block of bytes.
//
// Each pattern is given one anchor: a byte of the pattern that is rare in
// ordinary data, chosen so that few distinct anchor bytes cover all patterns.
// Each pattern also has a key: the byte next to its anchor. parse() finds
// the positions that hold an anchor byte next to a byte in the range of its
// keys (CandidateScan), and there the key picks the few patterns worth
// comparing, so the cost follows the input length and the number of such
// positions, not the number of patterns times the input length.
class CVParse
{
public:
    CVParse();
    ~CVParse();

    void addCommand(const QByteArray &pattern, int id);

    // Matches in ascending start order, never overlapping: where occurrences
    // overlap, the one that starts first wins (at the same start, the longer).
    // At most one partial match, as the last element, no longer than the
    // longest pattern less one byte.
    QVector<ParseMatch> parse(const QByteArray &data) const;

    // Scans with other lanes than the widest this processor has, so that
    // tests and benchmarks reach the scans that other machines run. Returns
    // whether this processor has them.
    bool scanWith(CandidateScan::Lanes lanes) { return m_scan.setLanes(lanes); }

private:
    struct Pattern
    {
        QByteArray bytes;
        int id;
        int anchorOffset;
        int length;
        // The first eight bytes as one word, and the bytes of it that count.
        std::uint64_t head = 0;
        std::uint64_t headMask = 0;
        int next = -1; // the next pattern of the same probe and key

        bool foundAt(const char *data, int size, int start) const;
    };
    // The patterns of one anchor byte whose key lies at the same distance
    // from the anchor, chained by their key byte. The lookups of a candidate
    // are flat tables, since most candidates have no pattern at all.
    struct Probe
    {
        unsigned char anchor;
        int keyOffset;
        qint16 firstByKey[256]; // index into m_patterns, or -1
        int next = -1;          // the next probe of the same anchor byte
    };

    int anchorOffsetFor(const QByteArray &bytes) const;
    void addToProbe(int index);
    void updateScan();
    void findComplete(const char *data, int size, std::vector<ParseMatch> &found) const;
    int partialStart(const char *data, int size, int from) const;

    std::vector<Pattern> m_patterns;
    std::vector<Probe> m_probes;
    qint16 m_firstProbe[256]; // index into m_probes by anchor byte, or -1
    CandidateScan m_scan;
    std::vector<int> m_byFirstByte[256]; // indices into m_patterns
    std::bitset<256> m_firstBytes;       // bytes that begin a pattern of two bytes or more
    std::bitset<65536> m_firstPairs;     // first byte * 256 + second byte
    std::bitset<65536> m_innerPairs;     // byte pairs that can end a proper prefix
    mutable std::vector<int> m_candidates;   // scratch, reused across calls
    mutable std::vector<ParseMatch> m_found; // scratch, reused across calls
    // The result, kept so that its storage serves the next call once the
    // caller has let go of its copy.
    mutable QVector<ParseMatch> m_result;
    int m_longest = 0;
};
