#include "candidatescan.h"

#include <algorithm>

#if defined(__x86_64__)
// Built with AVX2 on its own (candidatescan_avx2.cpp), and run only where the
// processor reports it: x86-64 promises SSE2 alone.
int scanAvx2(const scankernel::Pass &pass, const char *data, int size, int *out);
#endif

#if defined(__arm__) && !defined(__ARM_NEON)
#include <sys/auxv.h>
#ifndef HWCAP_NEON
#define HWCAP_NEON (1 << 12)
#endif
// Built with NEON on its own (candidatescan_neon.cpp), and run only where the
// processor reports it: the board's baseline does not promise it.
int scanNeon(const scankernel::Pass &pass, const char *data, int size, int *out);
#define BREV_NEON_AT_RUN_TIME 1
#endif

namespace {

using scankernel::Filter;
using scankernel::Pass;
using Lanes = CandidateScan::Lanes;

// The smallest range that holds every key.
Filter rangeFilter(const CandidateScan::Filter &filter)
{
    const auto [lowest, highest] = std::minmax_element(filter.keys.begin(), filter.keys.end());
    return {filter.anchor, filter.keyOffset, *lowest, static_cast<unsigned char>(*highest - *lowest)};
}

// The scan on `lanes`, or none where this processor lacks them.
scankernel::Scan scanOn(Lanes lanes)
{
    switch (lanes) {
    case Lanes::Avx2:
#if defined(__x86_64__)
        return __builtin_cpu_supports("avx2") ? scanAvx2 : nullptr;
#else
        return nullptr;
#endif
    case Lanes::Sse2:
#if defined(__SSE2__)
        return scankernel::scan<scankernel::Sse2Lanes>;
#else
        return nullptr;
#endif
    case Lanes::Neon:
#if defined(__ARM_NEON)
        return scankernel::scan<scankernel::NeonLanes>;
#elif defined(BREV_NEON_AT_RUN_TIME)
        return (getauxval(AT_HWCAP) & HWCAP_NEON) ? scanNeon : nullptr;
#else
        return nullptr;
#endif
    case Lanes::Words:
        break;
    }
    return scankernel::scan<scankernel::WordLanes>;
}

} // namespace

CandidateScan::CandidateScan()
{
    setLanes(lanesHere().front());
}

std::vector<Lanes> CandidateScan::lanesHere()
{
    std::vector<Lanes> here;
    for (const Lanes lanes : {Lanes::Avx2, Lanes::Sse2, Lanes::Neon, Lanes::Words}) {
        if (scanOn(lanes))
            here.push_back(lanes);
    }
    return here;
}

bool CandidateScan::setLanes(Lanes lanes)
{
    const scankernel::Scan scan = scanOn(lanes);
    if (scan)
        m_scan = scan;
    return scan != nullptr;
}

void CandidateScan::setFilters(const std::vector<Filter> &filters)
{
    m_passes.clear();
    for (size_t i = 0; i < filters.size(); i += 2) {
        const scankernel::Filter first = rangeFilter(filters[i]);
        m_passes.push_back({first, i + 1 < filters.size() ? rangeFilter(filters[i + 1]) : first});
    }
}

int CandidateScan::scan(const char *data, int size, int *positions) const
{
    int found = 0;
    for (const Pass &pass : m_passes)
        found += m_scan(pass, data, size, positions + found);
    return found;
}
