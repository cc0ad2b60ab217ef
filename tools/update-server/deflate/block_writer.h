// Writes a run of tokens as one DEFLATE block: dynamic Huffman, fixed
// Huffman or stored, whichever is smallest.
#pragma once

#include "bit_writer.h"
#include "tables.h"

#include <cstddef>
#include <cstdint>

namespace tvserver::deflate {

// Symbol counts of a run of tokens (the end-of-block code included).
struct Histogram {
    std::uint32_t lit[kLitLenSymbols] = {};
    std::uint32_t dist[kDistSymbols] = {};
    std::size_t extraBits = 0; // length and distance extra bits

    explicit Histogram(const Token* tokens = nullptr, std::size_t count = 0);
    void Add(const Token& t) {
        if (t.IsLiteral()) {
            ++lit[t.litOrLength];
            return;
        }
        const int lc = LengthCode(t.litOrLength);
        const int dc = DistCode(t.dist);
        ++lit[257 + lc];
        ++dist[dc];
        extraBits += kLengthExtra[lc] + kDistExtra[dc];
    }
};

// The exact size in bits of the smallest block for the tokens, whose input
// is rawSize bytes, written after pendingBits bits of an unfinished byte.
std::size_t BlockBits(const Histogram& h, std::size_t rawSize, int pendingBits);

// raw/rawSize: the input bytes the tokens stand for.
void WriteBlock(BitWriter& out, const Token* tokens, std::size_t count, const unsigned char* raw,
                std::size_t rawSize, bool final);

// An empty final block, for a stream that ends with nothing pending.
void WriteEmptyFinalBlock(BitWriter& out);

} // namespace tvserver::deflate
