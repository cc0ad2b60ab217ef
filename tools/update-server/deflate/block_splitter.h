// Chooses where blocks end: each block gets its own Huffman codes, so a
// split pays a header to follow a change in the data's statistics.
#pragma once

#include "tables.h"

#include <cstddef>
#include <vector>

namespace tvserver::deflate {

struct SplitEffort {
    std::size_t step;   // candidate boundaries every this many tokens
    std::size_t refine; // then each boundary moves in steps of this many
};

// The token indices where blocks end, ascending; the last is count.
std::vector<std::size_t> SplitBlocks(const Token* tokens, std::size_t count,
                                     const SplitEffort& effort);

} // namespace tvserver::deflate
