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

CVParse::CVParse() = default;
CVParse::~CVParse() = default;

void CVParse::addCommand(const QByteArray &pattern, int id)
{
    if (pattern.isEmpty())
        return;
    m_patterns.push_back({pattern, id, 0});
    m_startsPattern[static_cast<unsigned char>(pattern[0])] = true;
    m_longest = std::max(m_longest, int(pattern.size()));
    chooseAnchor(m_patterns.back());
}

// Anchors a pattern on its rarest byte, preferring a byte that already
// anchors other patterns so that parse() scans for as few bytes as possible.
void CVParse::chooseAnchor(Pattern &pattern)
{
    const QByteArray &bytes = pattern.bytes;
    int rarest = 5;
    for (char c : bytes)
        rarest = std::min(rarest, commonness(static_cast<unsigned char>(c)));

    int chosen = -1;
    for (int i = 0; i < bytes.size() && chosen < 0; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (commonness(byte) != rarest)
            continue;
        for (const Anchor &anchor : m_anchors)
            if (anchor.byte == byte)
                chosen = i;
    }
    if (chosen < 0) {
        for (int i = 0; i < bytes.size() && chosen < 0; ++i)
            if (commonness(static_cast<unsigned char>(bytes[i])) == rarest)
                chosen = i;
    }

    pattern.anchorOffset = chosen;
    const auto byte = static_cast<unsigned char>(bytes[chosen]);
    const int index = int(m_patterns.size()) - 1;
    for (Anchor &anchor : m_anchors) {
        if (anchor.byte == byte) {
            anchor.patterns.push_back(index);
            return;
        }
    }
    m_anchors.push_back({byte, {index}});
}

void CVParse::findComplete(const char *data, int size, std::vector<ParseMatch> &found) const
{
    const char *const limit = data + size;
    for (const Anchor &anchor : m_anchors) {
        const char *hit = data;
        while ((hit = static_cast<const char *>(std::memchr(hit, anchor.byte, limit - hit)))) {
            const int at = int(hit - data);
            for (int index : anchor.patterns) {
                const Pattern &pattern = m_patterns[index];
                const int start = at - pattern.anchorOffset;
                const int length = pattern.bytes.size();
                if (start < 0 || start + length > size)
                    continue;
                if (data[start] == pattern.bytes[0]
                    && std::memcmp(data + start, pattern.bytes.constData(), length) == 0)
                    found.push_back({pattern.id, start, start + length - 1, length});
            }
            ++hit;
        }
    }
}

// The first position at or after `from` where the rest of the input is a
// proper prefix of some pattern, or -1.
int CVParse::partialStart(const char *data, int size, int from) const
{
    for (int start = std::max(from, size - (m_longest - 1)); start < size; ++start) {
        if (!m_startsPattern[static_cast<unsigned char>(data[start])])
            continue;
        const int rest = size - start;
        for (const Pattern &pattern : m_patterns) {
            if (rest < pattern.bytes.size()
                && std::memcmp(data + start, pattern.bytes.constData(), rest) == 0)
                return start;
        }
    }
    return -1;
}

QVector<ParseMatch> CVParse::parse(const QByteArray &data) const
{
    const char *bytes = data.constData();
    const int size = data.size();

    m_found.clear();
    findComplete(bytes, size, m_found);
    std::sort(m_found.begin(), m_found.end(), [](const ParseMatch &a, const ParseMatch &b) {
        return a.start != b.start ? a.start < b.start : a.length > b.length;
    });

    QVector<ParseMatch> result;
    int lastEnd = -1;
    for (const ParseMatch &match : m_found) {
        if (match.start > lastEnd) {
            result.append(match);
            lastEnd = match.end;
        }
    }
    const int partial = partialStart(bytes, size, lastEnd + 1);
    if (partial >= 0)
        result.append({ParseMatch::Partial, partial, size - 1, size - partial});
    return result;
}
