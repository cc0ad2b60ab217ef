// Length-limited Huffman codes for DEFLATE's three alphabets.
#pragma once

#include <cstdint>

namespace tvserver::deflate {

// Optimal code lengths for freq[0..n) with none longer than limit
// (package-merge); an unused symbol gets 0. The code is always complete:
// with fewer than two used symbols, two symbols get length 1, since a
// decoder may refuse an incomplete code.
void BuildLengths(const std::uint32_t* freq, int n, int limit, std::uint8_t* lengths);

// The canonical codes for the lengths, bit-reversed for LSB-first output.
void BuildCodes(const std::uint8_t* lengths, int n, std::uint16_t* codes);

} // namespace tvserver::deflate
