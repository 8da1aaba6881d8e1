#pragma once

#include <vector>

// Finds the positions in a block where a pattern may be anchored: an anchor
// byte whose neighbour, at the filter's key offset (-1, 0 or 1), is one of
// the filter's key bytes.
//
// Print data is dense in some anchor bytes (every label field starts with
// "^"), so finding each of them with memchr costs a call per field. Where the
// processor compares sixteen bytes at once and the filters need few
// comparisons, all anchors and keys are compared together and only the
// positions that pass come out. Elsewhere every anchor byte comes out, found
// with memchr, and the caller's key look-up does the filtering.
class CandidateScan
{
public:
    struct Filter
    {
        unsigned char anchor;
        int keyOffset;
        std::vector<unsigned char> keys;
    };

    void setFilters(std::vector<Filter> filters);

    // Appends the positions to `positions`, ascending on the compared path.
    void scan(const char *data, int size, std::vector<int> &positions) const;

private:
    bool passes(const char *data, int size, int at) const;
    void scanCompared(const char *data, int size, std::vector<int> &positions) const;
    void scanByMemchr(const char *data, int size, std::vector<int> &positions) const;

    std::vector<Filter> m_filters;
    std::vector<unsigned char> m_anchors; // distinct anchor bytes
    bool m_compared = false;
};
