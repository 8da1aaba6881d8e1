#pragma once

// The candidate scan's inner loop, written once over a set of lane
// operations, and the lane sets: a vector unit's byte lanes where the
// processor has one (32 with AVX2 and 16 with SSE2 on x86-64, 16 with NEON
// on ARM) and the bytes of a machine word everywhere.
//
// A step compares a run of positions at once: each position's byte against
// two anchor bytes, and the byte next to it (the key, one position before or
// after, or the byte itself) against each anchor's range of key bytes. The
// number of compares is fixed, so the compiler keeps every constant in a
// register and unrolls nothing at run time.

#include <cstdint>
#include <cstring>

#if defined(__AVX2__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__ARM_NEON)
#include <arm_neon.h>
#endif

namespace scankernel {

// One anchor byte and the range of key bytes that may stand at `keyOffset`
// from it: key - keyLow, taken as an unsigned byte, is at most keySpan.
struct Filter
{
    unsigned char anchor;
    int keyOffset; // -1, 0 or 1
    unsigned char keyLow;
    unsigned char keySpan;
};

// Two filters scanned together; a lone filter is given twice.
struct Pass
{
    Filter first;
    Filter second;
};

using Scan = int (*)(const Pass &pass, const char *data, int size, int *out);

// The code below is built once per lane set, some of them in files compiled
// for a wider instruction set that not every processor runs: nothing of it
// may be shared between files, or the linker could keep the wider build of
// a function for all callers.
namespace {

inline bool passes(const Filter &filter, const char *data, int size, int at)
{
    const int keyAt = at + filter.keyOffset;
    return static_cast<unsigned char>(data[at]) == filter.anchor && keyAt >= 0 && keyAt < size
           && static_cast<unsigned char>(static_cast<unsigned char>(data[keyAt]) - filter.keyLow)
                  <= filter.keySpan;
}

// The machine word's bytes as lanes. A lane that holds is marked by its top
// bit; no carry crosses from one lane into the next. Keys are not compared:
// on a word a range test costs more than the caller's look-up of the few
// anchors that a word-wide test lets through, even on caret-dense data.
struct WordLanes
{
    using Word = std::uintptr_t;
    using Vec = Word;
    static constexpr int width = sizeof(Word);
    static constexpr int bitsPerLane = 8;
    static constexpr bool keysAtOnce = false;
    static constexpr Word ones = ~Word(0) / 0xff;
    static constexpr Word high = ones * 0x80;
    static constexpr Word low7 = ones * 0x7f;

    struct Range
    {
    };

    static Vec load(const char *at)
    {
        Word word;
        std::memcpy(&word, at, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        word = sizeof word == 8 ? Word(__builtin_bswap64(word)) : Word(__builtin_bswap32(std::uint32_t(word)));
#endif
        return word;
    }
    static Vec splat(unsigned char byte) { return ones * byte; }
    // The top bit of every lane where x and y hold the same byte.
    static Vec eq(Vec x, Vec y)
    {
        const Word difference = x ^ y;
        return ~(((difference & low7) + low7) | difference) & high;
    }
    static Range range(unsigned char, unsigned char) { return {}; }
    static Vec keyed(Vec anchors, Vec, const Range &) { return anchors; }
    static Vec either(Vec x, Vec y) { return x | y; }
    static std::uint64_t mask(Vec x) { return x; }
};

#if defined(__SSE2__)
// SSE2 compares bytes as signed numbers only: the difference from keyLow and
// the span are both moved down by 0x80, so that the signed order of the moved
// values is the unsigned order of the unmoved ones.
struct Sse2Lanes
{
    using Vec = __m128i;
    struct Range { __m128i low, span; }; // both moved down by 0x80
    static constexpr int width = 16;
    static constexpr int bitsPerLane = 1;
    static constexpr bool keysAtOnce = false;

    static Vec load(const char *at) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at)); }
    static Vec splat(unsigned char byte) { return _mm_set1_epi8(char(byte)); }
    static Vec eq(Vec x, Vec y) { return _mm_cmpeq_epi8(x, y); }
    static Range range(unsigned char keyLow, unsigned char keySpan)
    {
        return {splat(keyLow ^ 0x80), splat(keySpan ^ 0x80)};
    }
    static Vec keyed(Vec anchors, Vec keys, const Range &range)
    {
        const __m128i outside = _mm_cmpgt_epi8(_mm_sub_epi8(keys, range.low), range.span);
        return _mm_andnot_si128(outside, anchors);
    }
    static Vec either(Vec x, Vec y) { return _mm_or_si128(x, y); }
    static std::uint64_t mask(Vec x) { return unsigned(_mm_movemask_epi8(x)); }
};
#endif

#if defined(__AVX2__)
// As SSE2, with 32 lanes.
struct Avx2Lanes
{
    using Vec = __m256i;
    struct Range { __m256i low, span; }; // both moved down by 0x80
    static constexpr int width = 32;
    static constexpr int bitsPerLane = 1;
    static constexpr bool keysAtOnce = true;

    static Vec load(const char *at) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at)); }
    static Vec splat(unsigned char byte) { return _mm256_set1_epi8(char(byte)); }
    static Vec eq(Vec x, Vec y) { return _mm256_cmpeq_epi8(x, y); }
    static Range range(unsigned char keyLow, unsigned char keySpan)
    {
        return {splat(keyLow ^ 0x80), splat(keySpan ^ 0x80)};
    }
    static Vec keyed(Vec anchors, Vec keys, const Range &range)
    {
        const __m256i outside = _mm256_cmpgt_epi8(_mm256_sub_epi8(keys, range.low), range.span);
        return _mm256_andnot_si256(outside, anchors);
    }
    static Vec either(Vec x, Vec y) { return _mm256_or_si256(x, y); }
    static std::uint64_t mask(Vec x) { return std::uint32_t(_mm256_movemask_epi8(x)); }
};
#endif

#if defined(__ARM_NEON)
struct NeonLanes
{
    using Vec = uint8x16_t;
    struct Range { uint8x16_t low, span; };
    static constexpr int width = 16;
    static constexpr int bitsPerLane = 4;
    static constexpr bool keysAtOnce = false;

    static Vec load(const char *at) { return vld1q_u8(reinterpret_cast<const std::uint8_t *>(at)); }
    static Vec splat(unsigned char byte) { return vdupq_n_u8(byte); }
    static Vec eq(Vec x, Vec y) { return vceqq_u8(x, y); }
    static Range range(unsigned char keyLow, unsigned char keySpan) { return {splat(keyLow), splat(keySpan)}; }
    static Vec keyed(Vec anchors, Vec keys, const Range &range)
    {
        return vandq_u8(anchors, vcleq_u8(vsubq_u8(keys, range.low), range.span));
    }
    static Vec either(Vec x, Vec y) { return vorrq_u8(x, y); }
    // Four bits per lane: each 16-bit pair of lanes narrowed to one byte.
    static std::uint64_t mask(Vec x)
    {
        const uint8x8_t narrowed = vshrn_n_u16(vreinterpretq_u16_u8(x), 4);
        return vget_lane_u64(vreinterpret_u64_u8(narrowed), 0) & 0x8888888888888888ull;
    }
};
#endif

// Appends to `out` the positions from 1 to size - 2 that pass one of the
// pass's filters, ascending; returns how many. `size` must be at least
// Lanes::width + 2, so that every step with its keys lies in the data.
template <typename Lanes>
inline __attribute__((always_inline)) int scanInterior(const Pass &pass, const char *data, int size, int *out)
{
    using Vec = typename Lanes::Vec;
    constexpr int width = Lanes::width;
    const Vec anchor1 = Lanes::splat(pass.first.anchor);
    const Vec anchor2 = Lanes::splat(pass.second.anchor);
    const typename Lanes::Range keys1 = Lanes::range(pass.first.keyLow, pass.first.keySpan);
    const typename Lanes::Range keys2 = Lanes::range(pass.second.keyLow, pass.second.keySpan);
    const int offset1 = pass.first.keyOffset;
    const int offset2 = pass.second.keyOffset;

    int found = 0;
    const auto collect = [&](int at, std::uint64_t bits) {
        for (; bits; bits &= bits - 1)
            out[found++] = at + __builtin_ctzll(bits) / Lanes::bitsPerLane;
    };
    // The positions from `at` on that pass, given the anchors found there.
    const auto keyed = [&](int at, Vec first, Vec second) {
        return Lanes::mask(Lanes::either(Lanes::keyed(first, Lanes::load(data + at + offset1), keys1),
                                         Lanes::keyed(second, Lanes::load(data + at + offset2), keys2)));
    };
    const auto stepMask = [&](int at) {
        const Vec here = Lanes::load(data + at);
        return keyed(at, Lanes::eq(here, anchor1), Lanes::eq(here, anchor2));
    };
    const auto step = [&](int at, std::uint64_t keep) { collect(at, stepMask(at) & keep); };

    // The last step whose keys stay inside the data starts here.
    const int last = size - 1 - width;
    int at = 1;
    const auto anchors = [&](int at) {
        const Vec here = Lanes::load(data + at);
        return Lanes::either(Lanes::eq(here, anchor1), Lanes::eq(here, anchor2));
    };
    // Two steps share one test. Where the lanes are narrow, most of most data
    // holds no anchor at all: the test is for anchors, and only then are keys
    // compared. Where they are wide, most runs hold one, and whether a run
    // holds one is too random to predict: the keys are compared at once.
    for (; at + width <= last; at += 2 * width) {
        if constexpr (Lanes::keysAtOnce) {
            const std::uint64_t first = stepMask(at);
            const std::uint64_t second = stepMask(at + width);
            if ((first | second) == 0)
                continue;
            collect(at, first);
            collect(at + width, second);
        } else {
            if (Lanes::mask(Lanes::either(anchors(at), anchors(at + width))) == 0)
                continue;
            step(at, ~std::uint64_t(0));
            step(at + width, ~std::uint64_t(0));
        }
    }
    for (; at <= last; at += width)
        step(at, ~std::uint64_t(0));
    // The rest as one step that ends at size - 2, less the positions done.
    if (at < size - 1)
        step(last, ~std::uint64_t(0) << ((at - last) * Lanes::bitsPerLane));
    return found;
}

// Appends the positions from 0 to size - 1 that pass one of the pass's
// filters and returns how many. The first and the last position have a key
// on one side only, and data shorter than a step has too few positions for
// one: those are checked one by one.
template <typename Lanes>
int scan(const Pass &pass, const char *data, int size, int *out)
{
    const auto passes = [&](int at) {
        const auto byte = static_cast<unsigned char>(data[at]);
        return (byte == pass.first.anchor || byte == pass.second.anchor)
               && (scankernel::passes(pass.first, data, size, at) || scankernel::passes(pass.second, data, size, at));
    };
    int found = 0;
    if (size < Lanes::width + 2) {
        for (int at = 0; at < size; ++at) {
            if (passes(at))
                out[found++] = at;
        }
        return found;
    }
    if (passes(0))
        out[found++] = 0;
    found += scanInterior<Lanes>(pass, data, size, out + found);
    if (passes(size - 1))
        out[found++] = size - 1;
    return found;
}

} // namespace
} // namespace scankernel
