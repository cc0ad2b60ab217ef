// log2 in fixed point, by table. The cost estimates use integers only: they
// run in hot loops, and scalar floating point there is needlessly slow (and
// far slower again in a process whose vector registers some other code left
// in a dirty upper state).
#pragma once

#include <cstdint>

namespace tvserver::deflate {

constexpr int kLog2Shift = 16; // results are log2 * 65536

// log2(x) * 65536 for x >= 1, to within about 1/4096 of a bit.
std::uint32_t Log2Fixed(std::uint32_t x);

} // namespace tvserver::deflate
