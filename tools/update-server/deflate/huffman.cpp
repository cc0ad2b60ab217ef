// Package-merge: at each of limit levels the symbols (leaves) are merged
// with the pairs ("packages") of the level below; the cheapest 2n - 2 items
// of the top level decide every length. Since leaves and packages are both
// kept sorted, the leaves among the first k items of a level are always the
// cheapest ones, so a level is remembered as one flag per item.
#include "huffman.h"

#include <algorithm>
#include <vector>

namespace tvserver::deflate {

namespace {

struct Leaf {
    std::uint32_t freq;
    int symbol;
};

void ForceTwo(const std::vector<Leaf>& leaves, std::uint8_t* lengths) {
    const int used = leaves.empty() ? 0 : leaves[0].symbol;
    const int other = used == 0 ? 1 : 0;
    lengths[used] = 1;
    lengths[other] = 1;
}

} // namespace

void BuildLengths(const std::uint32_t* freq, int n, int limit, std::uint8_t* lengths) {
    std::vector<Leaf> leaves;
    for (int s = 0; s < n; ++s) {
        lengths[s] = 0;
        if (freq[s] > 0)
            leaves.push_back({freq[s], s});
    }
    if (leaves.size() < 2) {
        ForceTwo(leaves, lengths);
        return;
    }
    std::sort(leaves.begin(), leaves.end(), [](const Leaf& a, const Leaf& b) {
        return a.freq != b.freq ? a.freq < b.freq : a.symbol < b.symbol;
    });
    const std::size_t m = leaves.size();
    // isLeaf[level][i]: whether item i of that level is a leaf.
    std::vector<std::vector<bool>> isLeaf(static_cast<std::size_t>(limit));
    std::vector<std::uint64_t> below, here;
    for (const Leaf& l : leaves)
        below.push_back(l.freq);
    isLeaf[0].assign(m, true);
    for (int level = 1; level < limit; ++level) {
        here.clear();
        std::vector<bool>& flags = isLeaf[static_cast<std::size_t>(level)];
        flags.clear();
        std::size_t li = 0, pi = 0;
        const std::size_t packages = below.size() / 2;
        while (li < m || pi < packages) {
            const std::uint64_t package =
                pi < packages ? below[2 * pi] + below[2 * pi + 1] : UINT64_MAX;
            if (li < m && leaves[li].freq <= package) {
                here.push_back(leaves[li++].freq);
                flags.push_back(true);
            } else {
                here.push_back(package);
                ++pi;
                flags.push_back(false);
            }
        }
        below.swap(here);
    }
    std::size_t take = 2 * m - 2;
    for (int level = limit - 1; level >= 0 && take > 0; --level) {
        const std::vector<bool>& flags = isLeaf[static_cast<std::size_t>(level)];
        std::size_t leafCount = 0;
        for (std::size_t i = 0; i < take; ++i)
            leafCount += flags[i] ? 1 : 0;
        for (std::size_t i = 0; i < leafCount; ++i)
            ++lengths[leaves[i].symbol];
        take = 2 * (take - leafCount);
    }
}

void BuildCodes(const std::uint8_t* lengths, int n, std::uint16_t* codes) {
    unsigned count[16] = {};
    for (int s = 0; s < n; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    unsigned next[16] = {};
    unsigned code = 0;
    for (int len = 1; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (int s = 0; s < n; ++s) {
        const int len = lengths[s];
        if (len == 0) {
            codes[s] = 0;
            continue;
        }
        const unsigned c = next[len]++;
        unsigned r = 0;
        for (int i = 0; i < len; ++i)
            r |= ((c >> i) & 1u) << (len - 1 - i);
        codes[s] = static_cast<std::uint16_t>(r);
    }
}

} // namespace tvserver::deflate
