#pragma once

#include "scankernel.h"

#include <vector>

// Finds the positions in a block where a pattern may be anchored: an anchor
// byte whose neighbour, at the filter's key offset (-1, 0 or 1), lies in the
// range of the filter's key bytes. Keys inside the range that belong to no
// pattern pass too; the caller's key look-up drops them.
//
// Print data is dense in some anchor bytes (every label field starts with
// "^"), so the scan compares whole runs of positions at once, with a fixed
// number of compares per run: two filters per pass over the block, as many
// passes as the filters need. The same scan runs on a vector unit's lanes
// where the processor has one and on the bytes of a machine word elsewhere.
// A wider vector unit that the build may not assume is used where the
// processor reports it.
class CandidateScan
{
public:
    struct Filter
    {
        unsigned char anchor;
        int keyOffset;
        std::vector<unsigned char> keys;
    };

    enum class Lanes { Avx2, Sse2, Neon, Words };

    // Scans with the widest lanes that this processor has.
    CandidateScan();

    void setFilters(const std::vector<Filter> &filters);
    // Scans with `lanes`, if this processor has them; returns whether it does.
    bool setLanes(Lanes lanes);
    // The lanes this processor has, the widest first; machine words last.
    static std::vector<Lanes> lanesHere();

    // The most positions that scan() may write for `size` bytes.
    int capacity(int size) const { return size * int(m_passes.size()); }
    // Writes the positions to `positions`, ascending within each pass, and
    // returns how many.
    int scan(const char *data, int size, int *positions) const;

private:
    std::vector<scankernel::Pass> m_passes;
    scankernel::Scan m_scan = nullptr;
};
