#include "candidatescan.h"

#include <algorithm>

#if defined(__arm__) && !defined(__ARM_NEON)
#include <sys/auxv.h>
#ifndef HWCAP_NEON
#define HWCAP_NEON (1 << 12)
#endif
// Built with NEON on its own (candidatescan_neon.cpp), and run only where the
// processor reports it: the board's baseline does not promise it.
int scanInteriorNeon(const scankernel::Pass &pass, const char *data, int size, int *out);
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

} // namespace

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
#if defined(__SSE2__) || defined(__ARM_NEON)
    return true;
#elif defined(BREV_NEON_AT_RUN_TIME)
    return neonPresent;
#else
    return false;
#endif
}

int CandidateScan::scan(const char *data, int size, int *positions) const
{
    int found = 0;
    for (const Pass &pass : m_passes)
        found += scanPass(pass, data, size, positions + found);
    return found;
}

// The first and the last position have a key on one side only, and blocks
// shorter than a step have too few positions for one: those are checked one
// by one.
int CandidateScan::scanPass(const Pass &pass, const char *data, int size, int *positions) const
{
    const auto passes = [&](int at) {
        return scankernel::passes(pass.first, data, size, at) || scankernel::passes(pass.second, data, size, at);
    };
    const bool vectors = m_lanes == Lanes::Best && hasVectorLanes();
    const int width = vectors ? 16 : scankernel::WordLanes::width;
    int found = 0;
    if (size < width + 2) {
        for (int at = 0; at < size; ++at) {
            if (passes(at))
                positions[found++] = at;
        }
        return found;
    }
    if (passes(0))
        positions[found++] = 0;
    if (!vectors)
        found += scankernel::scanInterior<scankernel::WordLanes>(pass, data, size, positions + found);
#if defined(__SSE2__)
    else
        found += scankernel::scanInterior<scankernel::Sse2Lanes>(pass, data, size, positions + found);
#elif defined(__ARM_NEON)
    else
        found += scankernel::scanInterior<scankernel::NeonLanes>(pass, data, size, positions + found);
#elif defined(BREV_NEON_AT_RUN_TIME)
    else
        found += scanInteriorNeon(pass, data, size, positions + found);
#endif
    if (passes(size - 1))
        positions[found++] = size - 1;
    return found;
}
