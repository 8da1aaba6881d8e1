#include "cvparse.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// How common a byte is in what printers are sent: control bytes are rarest,
// then the punctuation that command languages use as escapes, then the rest.
int commonness(unsigned char byte)
{
    if (byte < 0x20 || byte == 0x7f)
        return 0;
    if (byte == '^' || byte == '~' || byte == '|' || byte == '`' || byte == '\\')
        return 1;
    if (byte >= 0x80)
        return 2;
    if (!std::isalnum(byte) && byte != ' ')
        return 3;
    return 4;
}

} // namespace

CVParse::CVParse()
{
    std::fill(std::begin(m_firstProbe), std::end(m_firstProbe), qint16(-1));
}

CVParse::~CVParse() = default;

void CVParse::addCommand(const QByteArray &pattern, int id)
{
    if (pattern.isEmpty())
        return;
    Pattern added{pattern, id, anchorOffsetFor(pattern), int(pattern.size())};
    unsigned char head[8] = {}, headMask[8] = {};
    for (int i = 0; i < std::min(8, int(pattern.size())); ++i) {
        head[i] = static_cast<unsigned char>(pattern[i]);
        headMask[i] = 0xff;
    }
    std::memcpy(&added.head, head, sizeof head);
    std::memcpy(&added.headMask, headMask, sizeof headMask);
    m_patterns.push_back(added);
    const auto first = static_cast<unsigned char>(pattern[0]);
    m_byFirstByte[first].push_back(int(m_patterns.size()) - 1);
    if (pattern.size() > 1)
        m_firstBytes.set(first);
    const auto pairAt = [&pattern](int i) {
        return static_cast<unsigned char>(pattern[i]) * 256u + static_cast<unsigned char>(pattern[i + 1]);
    };
    if (pattern.size() > 1)
        m_firstPairs.set(pairAt(0));
    for (int i = 0; i + 2 < pattern.size(); ++i)
        m_innerPairs.set(pairAt(i));
    m_longest = std::max(m_longest, int(pattern.size()));
    addToProbe(int(m_patterns.size()) - 1);
    updateScan();
}

// The offset of the pattern's rarest byte, preferring a byte that already
// anchors other patterns so that parse() scans for as few bytes as possible.
int CVParse::anchorOffsetFor(const QByteArray &bytes) const
{
    int rarest = 5;
    for (char c : bytes)
        rarest = std::min(rarest, commonness(static_cast<unsigned char>(c)));

    int firstRarest = -1;
    for (int i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (commonness(byte) != rarest)
            continue;
        if (m_firstProbe[byte] >= 0)
            return i;
        if (firstRarest < 0)
            firstRarest = i;
    }
    return firstRarest;
}

// Files the pattern under its anchor byte and its key: the neighbour of the
// anchor that is the more common byte, since a byte as rare as the anchor
// tends to travel with it (LF after CR) and so tells little apart. A
// one-byte pattern is its own key.
void CVParse::addToProbe(int index)
{
    const Pattern &pattern = m_patterns[index];
    const QByteArray &bytes = pattern.bytes;
    const int at = pattern.anchorOffset;
    const auto byteAt = [&bytes](int i) { return static_cast<unsigned char>(bytes[i]); };

    int keyOffset = 0;
    if (at + 1 < bytes.size())
        keyOffset = 1;
    if (at > 0 && (keyOffset == 0 || commonness(byteAt(at - 1)) > commonness(byteAt(at + 1))))
        keyOffset = -1;

    const unsigned char anchor = byteAt(at);
    int probe = m_firstProbe[anchor];
    while (probe >= 0 && m_probes[size_t(probe)].keyOffset != keyOffset)
        probe = m_probes[size_t(probe)].next;
    if (probe < 0) {
        Probe added{anchor, keyOffset, {}, m_firstProbe[anchor]};
        std::fill(std::begin(added.firstByKey), std::end(added.firstByKey), qint16(-1));
        probe = int(m_probes.size());
        m_firstProbe[anchor] = qint16(probe);
        m_probes.push_back(added);
    }
    qint16 &first = m_probes[size_t(probe)].firstByKey[byteAt(at + keyOffset)];
    m_patterns[size_t(index)].next = first;
    first = qint16(index);
}

void CVParse::updateScan()
{
    std::vector<CandidateScan::Filter> filters;
    for (const Probe &probe : m_probes) {
        CandidateScan::Filter filter{probe.anchor, probe.keyOffset, {}};
        for (int key = 0; key < 256; ++key) {
            if (probe.firstByKey[key] >= 0)
                filter.keys.push_back(static_cast<unsigned char>(key));
        }
        filters.push_back(std::move(filter));
    }
    m_scan.setFilters(filters);
}

// Most candidates differ from the pattern in its first eight bytes, which one
// compare of words tells where the data holds eight bytes from `start` on.
inline bool CVParse::Pattern::foundAt(const char *data, int size, int start) const
{
    if (start < 0 || start + length > size)
        return false;
    if (start + 8 > size)
        return std::memcmp(data + start, bytes.constData(), size_t(length)) == 0;
    std::uint64_t word;
    std::memcpy(&word, data + start, sizeof word);
    return ((word ^ head) & headMask) == 0
           && (length <= 8 || std::memcmp(data + start + 8, bytes.constData() + 8, size_t(length - 8)) == 0);
}

void CVParse::findComplete(const char *data, int size, std::vector<ParseMatch> &found) const
{
    const size_t capacity = size_t(m_scan.capacity(size));
    if (m_candidates.size() < capacity)
        m_candidates.resize(capacity);
    const int count = m_scan.scan(data, size, m_candidates.data());
    for (int i = 0; i < count; ++i) {
        const int at = m_candidates[size_t(i)];
        for (int probe = m_firstProbe[static_cast<unsigned char>(data[at])]; probe >= 0;
             probe = m_probes[size_t(probe)].next) {
            const Probe &filed = m_probes[size_t(probe)];
            const int keyAt = at + filed.keyOffset;
            if (keyAt < 0 || keyAt >= size)
                continue;
            for (int index = filed.firstByKey[static_cast<unsigned char>(data[keyAt])]; index >= 0;
                 index = m_patterns[size_t(index)].next) {
                const Pattern &pattern = m_patterns[size_t(index)];
                const int start = at - pattern.anchorOffset;
                if (pattern.foundAt(data, size, start))
                    found.push_back({pattern.id, start, start + pattern.length - 1, pattern.length});
            }
        }
    }
}

// The first position at or after `from` where the rest of the input is a
// proper prefix of some pattern, or -1.
int CVParse::partialStart(const char *data, int size, int from) const
{
    if (from >= size)
        return -1;
    // A partial match of two bytes or more ends in a pair of bytes that a
    // pattern holds before its last byte; most blocks end in no such pair,
    // and then only the last byte can begin one.
    const auto last = static_cast<unsigned char>(data[size - 1]);
    if (size - from < 2 || !m_innerPairs[static_cast<unsigned char>(data[size - 2]) * 256u + last])
        return m_firstBytes[last] ? size - 1 : -1;
    for (int start = std::max(from, size - (m_longest - 1)); start < size - 1; ++start) {
        const int rest = size - start;
        const auto first = static_cast<unsigned char>(data[start]);
        // Most starts fail on their first two bytes.
        if (!m_firstPairs[first * 256u + static_cast<unsigned char>(data[start + 1])])
            continue;
        for (int index : m_byFirstByte[first]) {
            const QByteArray &pattern = m_patterns[size_t(index)].bytes;
            const char *bytes = pattern.constData();
            if (rest >= pattern.size())
                continue;
            int same = 1; // the first byte picked the pattern
            while (same < rest && data[start + same] == bytes[same])
                ++same;
            if (same == rest)
                return start;
        }
    }
    return m_firstBytes[last] ? size - 1 : -1;
}

QVector<ParseMatch> CVParse::parse(const QByteArray &data) const
{
    const char *bytes = data.constData();
    const int size = data.size();

    m_found.clear();
    findComplete(bytes, size, m_found);
    if (m_found.size() > 1) {
        std::sort(m_found.begin(), m_found.end(), [](const ParseMatch &a, const ParseMatch &b) {
            return a.start != b.start ? a.start < b.start : a.length > b.length;
        });
    }

    m_result.clear();
    int lastEnd = -1;
    for (const ParseMatch &match : m_found) {
        if (match.start > lastEnd) {
            m_result.append(match);
            lastEnd = match.end;
        }
    }
    const int partial = partialStart(bytes, size, lastEnd + 1);
    if (partial >= 0)
        m_result.append({ParseMatch::Partial, partial, size - 1, size - partial});
    return m_result;
}
