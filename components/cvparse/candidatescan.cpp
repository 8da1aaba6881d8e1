#include "candidatescan.h"

#include <algorithm>

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

// The smallest range that holds every key.
Filter rangeFilter(const CandidateScan::Filter &filter)
{
    const auto [lowest, highest] = std::minmax_element(filter.keys.begin(), filter.keys.end());
    return {filter.anchor, filter.keyOffset, *lowest, static_cast<unsigned char>(*highest - *lowest)};
}

#ifdef BREV_NEON_AT_RUN_TIME
const bool neonPresent = (getauxval(AT_HWCAP) & HWCAP_NEON) != 0;
#endif

scankernel::Scan vectorScan()
{
#if defined(__SSE2__)
    return scankernel::scan<scankernel::Sse2Lanes>;
#elif defined(__ARM_NEON)
    return scankernel::scan<scankernel::NeonLanes>;
#elif defined(BREV_NEON_AT_RUN_TIME)
    return neonPresent ? scanNeon : nullptr;
#else
    return nullptr;
#endif
}

} // namespace

CandidateScan::CandidateScan()
{
    setLanes(Lanes::Best);
}

void CandidateScan::setLanes(Lanes lanes)
{
    m_scan = lanes == Lanes::Best ? vectorScan() : nullptr;
    if (!m_scan)
        m_scan = scankernel::scan<scankernel::WordLanes>;
}

void CandidateScan::setFilters(const std::vector<Filter> &filters)
{
    m_passes.clear();
    for (size_t i = 0; i < filters.size(); i += 2) {
        const scankernel::Filter first = rangeFilter(filters[i]);
        m_passes.push_back({first, i + 1 < filters.size() ? rangeFilter(filters[i + 1]) : first});
    }
}

bool CandidateScan::hasVectorLanes()
{
    return vectorScan() != nullptr;
}

int CandidateScan::scan(const char *data, int size, int *positions) const
{
    int found = 0;
    for (const Pass &pass : m_passes)
        found += m_scan(pass, data, size, positions + found);
    return found;
}
