// The DEFLATE alphabets: length and distance symbols with their extra bits.
#pragma once

#include <cstdint>

namespace tvserver::deflate {

constexpr int kWindowSize = 32768;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kEndOfBlock = 256;
constexpr int kLitLenSymbols = 286;
constexpr int kDistSymbols = 30;

// One parsed item: a literal byte (dist 0) or a match of length 3-258 at
// distance 1-32768.
struct Token {
    std::uint16_t litOrLength;
    std::uint16_t dist;
    bool IsLiteral() const { return dist == 0; }
    // Input bytes the token stands for.
    unsigned Span() const { return dist == 0 ? 1u : litOrLength; }
};

inline int HighBit(unsigned v) {
    return 31 - __builtin_clz(v);
}

// Length 3-258 to its literal/length symbol index minus 257 (0-28).
inline int LengthCode(unsigned length) {
    const unsigned x = length - 3;
    if (x < 8)
        return static_cast<int>(x);
    if (x == 255)
        return 28;
    const int hb = HighBit(x);
    return 4 * (hb - 1) + static_cast<int>((x >> (hb - 2)) & 3);
}

// Distance 1-32768 to its distance symbol (0-29).
inline int DistCode(unsigned dist) {
    const unsigned d = dist - 1;
    if (d < 4)
        return static_cast<int>(d);
    const int hb = HighBit(d);
    return 2 * hb + static_cast<int>((d >> (hb - 1)) & 1);
}

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

} // namespace tvserver::deflate
