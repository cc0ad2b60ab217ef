// Pack decoder for pack(1) data (magic 1F 1E): static Huffman coding of bytes
// with an end-of-data code and the uncompressed length in the header.
//
// Map of this file:
//   header       length, leaf counts and leaf bytes
//   tree         internal-node counts, completeness, prefix-length table
//   bits         the most-significant-first bit reader
//   entry        decode_pack_stream
//
// Output goes through the window, so it is counted and covered by the CRC.
// The prefix-length table is kept in output_buffer; nothing is allocated.

#include "gunzip/shared.h"

namespace gunzip {

namespace {

constexpr int kMaxCodeLen = 25;
constexpr int kPeekMax = 12;
constexpr unsigned kWindowDrainAt = 32768;
constexpr const char* kFormatViolated = "invalid compressed data--format violated";

struct PackState {
    uint32_t orig_len;           // stored uncompressed length
    int max_len;                 // L, the longest code length
    int leaves[kMaxCodeLen + 1]; // leaf count per length, end-of-data included
    int base[kMaxCodeLen + 1];   // leaf byte index of code value 0 per length
    int nodes[kMaxCodeLen + 1];  // internal nodes per length
    uint8_t literal[256];        // leaf bytes, grouped by length
    int peek;                    // table width: min(L, 12)
    uint32_t bit_buf;            // input bits, new bytes enter at the low end
    int bits_valid;              // unconsumed bits at the low end of bit_buf
};

// ----------------------------------------------------------------- header

void read_header(PackState& s) {
    s.orig_len = 0;
    for (int i = 0; i < 4; ++i)
        s.orig_len = (s.orig_len << 8) | static_cast<uint32_t>(next_byte());
    s.max_len = next_byte();
    if (s.max_len > kMaxCodeLen)
        fatal_error("invalid compressed data -- Huffman code > 32 bits");
    // A longest length of 0 leaves no place for the end-of-data code.
    if (s.max_len == 0)
        fatal_error(kFormatViolated);

    int stored = 0;
    for (int len = 1; len <= s.max_len; ++len) {
        s.leaves[len] = next_byte();
        stored += s.leaves[len];
    }
    if (stored > 255)
        fatal_error("too many leaves in Huffman tree");
    s.leaves[s.max_len]++;
    int index = 0;
    for (int len = 1; len <= s.max_len; ++len) {
        s.base[len] = index;
        for (int n = s.leaves[len]; n > 0; --n)
            s.literal[index++] = static_cast<uint8_t>(next_byte());
    }
    s.leaves[s.max_len]++;
}

// ------------------------------------------------------------------- tree

// Counts the internal nodes from the deepest level up. The counts pass the
// header checks even when they describe no tree at all; such a code would
// send the table fill below its start or the long-code walk past length L,
// so it must pair up at every level and end in exactly two root children.
void build_tree(PackState& s) {
    int below = 0; // nodes one level deeper: internal plus leaves
    for (int len = s.max_len; len >= 1; --len) {
        if ((below & 1) != 0)
            fatal_error(kFormatViolated);
        s.nodes[len] = below >> 1;
        s.base[len] -= s.nodes[len];
        below = s.nodes[len] + s.leaves[len];
    }
    if (below != 2)
        fatal_error(kFormatViolated);

    s.peek = s.max_len < kPeekMax ? s.max_len : kPeekMax;
    uint8_t* table = output_buffer;
    uint8_t* p = table + (1 << s.peek);
    for (int len = 1; len <= s.peek; ++len) {
        for (int n = s.leaves[len] << (s.peek - len); n > 0; --n)
            *--p = static_cast<uint8_t>(len);
    }
    while (p > table)
        *--p = 0;
}

// ------------------------------------------------------------------- bits

uint32_t peek_bits(PackState& s, int n) {
    while (s.bits_valid < n) {
        s.bit_buf = (s.bit_buf << 8) | static_cast<uint32_t>(next_byte());
        s.bits_valid += 8;
    }
    return (s.bit_buf >> (s.bits_valid - n)) & ((1u << n) - 1);
}

// Returns the next code's value; its length in *len.
uint32_t next_code(PackState& s, int* len) {
    uint32_t value = peek_bits(s, s.peek);
    int n = output_buffer[value];
    if (n > 0) {
        *len = n;
        return value >> (s.peek - n);
    }
    n = s.peek;
    do {
        ++n;
        value = peek_bits(s, n);
    } while (value < static_cast<uint32_t>(s.nodes[n]));
    *len = n;
    return value;
}

} // namespace

// ------------------------------------------------------------------ entry

int decode_pack_stream() {
    PackState s{};
    read_header(s);
    build_tree(s);
    const uint32_t end_code = static_cast<uint32_t>(s.leaves[s.max_len] - 1);
    for (;;) {
        int len = 0;
        uint32_t code = next_code(s, &len);
        if (code == end_code && len == s.max_len)
            break;
        window_buffer[window_fill++] = s.literal[code + static_cast<uint32_t>(s.base[len])];
        if (window_fill == kWindowDrainAt)
            drain_window();
        s.bits_valid -= len;
    }
    drain_window();
    if (s.orig_len != static_cast<uint32_t>(bytes_written_total))
        fatal_error("invalid compressed data--length error");
    return 0;
}

} // namespace gunzip
