#include "candidatescan.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Byte comparisons per sixteen bytes up to which comparing everything at
// once beats a memchr per anchor byte even on data without any anchor.
constexpr int maxComparisons = 16;
constexpr int width = 16;

} // namespace

void CandidateScan::setFilters(std::vector<Filter> filters)
{
    m_filters = std::move(filters);
    m_anchors.clear();
    int comparisons = 0;
    for (const Filter &filter : m_filters) {
        if (std::find(m_anchors.begin(), m_anchors.end(), filter.anchor) == m_anchors.end())
            m_anchors.push_back(filter.anchor);
        comparisons += 1 + int(filter.keys.size());
    }
#ifdef __SSE2__
    m_compared = !m_filters.empty() && comparisons <= maxComparisons;
#else
    m_compared = false;
    (void)comparisons;
#endif
}

void CandidateScan::scan(const char *data, int size, std::vector<int> &positions) const
{
#ifdef __SSE2__
    if (m_compared) {
        scanCompared(data, size, positions);
        return;
    }
#endif
    scanByMemchr(data, size, positions);
}

bool CandidateScan::passes(const char *data, int size, int at) const
{
    for (const Filter &filter : m_filters) {
        const int keyAt = at + filter.keyOffset;
        if (static_cast<unsigned char>(data[at]) != filter.anchor || keyAt < 0 || keyAt >= size)
            continue;
        const auto key = static_cast<unsigned char>(data[keyAt]);
        if (std::find(filter.keys.begin(), filter.keys.end(), key) != filter.keys.end())
            return true;
    }
    return false;
}

#ifdef __SSE2__
// Sixteen positions per step, reading one byte before and one after them for
// the keys; the first position and the last few are checked one by one.
void CandidateScan::scanCompared(const char *data, int size, std::vector<int> &positions) const
{
    struct Comparison
    {
        __m128i anchor;
        int keyOffset;
        int keysBegin;
        int keysEnd;
    };
    Comparison comparisons[maxComparisons];
    __m128i keys[maxComparisons];
    __m128i anchors[maxComparisons];
    int filterCount = 0;
    int keyCount = 0;
    int anchorCount = 0;
    for (unsigned char anchor : m_anchors)
        anchors[anchorCount++] = _mm_set1_epi8(char(anchor));
    for (const Filter &filter : m_filters) {
        Comparison &comparison = comparisons[filterCount++];
        comparison = {_mm_set1_epi8(char(filter.anchor)), filter.keyOffset, keyCount, keyCount};
        for (unsigned char key : filter.keys)
            keys[keyCount++] = _mm_set1_epi8(char(key));
        comparison.keysEnd = keyCount;
    }

    int at = 0;
    for (; at < std::min(size, 1); ++at) {
        if (passes(data, size, at))
            positions.push_back(at);
    }
    for (; at + width + 1 <= size; at += width) {
        const auto load = [data](int from) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + from));
        };
        const __m128i here = load(at);
        // Most steps of most data hold no anchor byte at all.
        __m128i anchorFound = _mm_cmpeq_epi8(here, anchors[0]);
        for (int i = 1; i < anchorCount; ++i)
            anchorFound = _mm_or_si128(anchorFound, _mm_cmpeq_epi8(here, anchors[i]));
        if (_mm_movemask_epi8(anchorFound) == 0)
            continue;

        const __m128i neighbours[] = {load(at - 1), here, load(at + 1)};
        __m128i found = _mm_setzero_si128();
        for (int i = 0; i < filterCount; ++i) {
            const Comparison &comparison = comparisons[i];
            const __m128i &neighbour = neighbours[comparison.keyOffset + 1];
            __m128i keyFound = _mm_setzero_si128();
            for (int k = comparison.keysBegin; k < comparison.keysEnd; ++k)
                keyFound = _mm_or_si128(keyFound, _mm_cmpeq_epi8(neighbour, keys[k]));
            found = _mm_or_si128(found, _mm_and_si128(keyFound, _mm_cmpeq_epi8(here, comparison.anchor)));
        }
        for (unsigned mask = unsigned(_mm_movemask_epi8(found)); mask; mask &= mask - 1)
            positions.push_back(at + __builtin_ctz(mask));
    }
    for (; at < size; ++at) {
        if (passes(data, size, at))
            positions.push_back(at);
    }
}
#endif

void CandidateScan::scanByMemchr(const char *data, int size, std::vector<int> &positions) const
{
    const char *const limit = data + size;
    for (unsigned char anchor : m_anchors) {
        for (const char *hit = data;
             (hit = static_cast<const char *>(std::memchr(hit, anchor, size_t(limit - hit)))); ++hit)
            positions.push_back(int(hit - data));
    }
}
