// LZH decoder (magic 1F A0): LZ77 over an 8192-byte dictionary with static
// Huffman codes per block, laid out as the -lh5- method of LHA archives.
//
// Map of this file:
//   state        bit window, block and copy counters, small code storage
//   bits         the 16-bit window over the stream (missing input reads as 0)
//   tables       lookup table plus tree links for codes longer than the table
//   lengths      the three code descriptions at the head of every block
//   symbols      literal/length and position symbols
//   entry        decode_lzh_stream
//
// Shared work areas: the dictionary is the start of window_buffer, the
// literal/length lengths sit in output_buffer, its table at the start of
// distance_buffer, and the tree links in the two halves of prefix_table.
//
// The header checks of the format pass some descriptions that name symbols
// outside an alphabet, lengths the tables cannot hold, or codes that are
// empty or fill their space more than once. Those are refused as corrupt
// data: decoding them would read table entries left over from earlier files.

#include "gunzip/shared.h"

namespace gunzip {

namespace {

constexpr unsigned kDictSize = 8192;
constexpr unsigned kDictMask = kDictSize - 1;
constexpr int kLitCount = 510; // 256 bytes, 254 match lengths (3 .. 256)
constexpr int kLenCount = 19;  // code-length code
constexpr int kPosCount = 14;  // position code
constexpr int kLitTableBits = 12;
constexpr int kSmallTableBits = 8;
constexpr int kMaxLen = 16;
constexpr int kMatchBias = 253; // symbol - 253 = match length
constexpr const char* kFormatViolated = "invalid compressed data--format violated";

// Set up afresh by each call.
struct LzhState {
    uint16_t window;     // the next 16 bits of the stream, first bit on top
    unsigned cur_byte;   // source of the bits that follow the window
    int bits_left;       // bits of cur_byte not yet in the window
    unsigned block_left; // literal/length symbols left in this block
    int copy_left;       // bytes of a match still to copy
    unsigned copy_from;  // dictionary position of the next byte to copy
    bool finished;       // a block size of 0 has been read
};

LzhState st;

// Code lengths and table of the code-length code, later the position code.
uint8_t small_len[kLenCount];
uint16_t small_table[1 << kSmallTableBits];

uint8_t* lit_len() {
    return output_buffer;
}
uint16_t* lit_table() {
    return distance_buffer;
}
uint16_t* left_link() {
    return prefix_table;
}
uint16_t* right_link() {
    return prefix_table + 32768;
}

// ------------------------------------------------------------------- bits

void fill_bits(int n) {
    st.window = static_cast<uint16_t>(st.window << n);
    while (n > st.bits_left) {
        n -= st.bits_left;
        st.window = static_cast<uint16_t>(st.window | (st.cur_byte << n));
        int c = try_next_byte();
        st.cur_byte = c < 0 ? 0 : static_cast<unsigned>(c);
        st.bits_left = 8;
    }
    st.bits_left -= n;
    st.window = static_cast<uint16_t>(st.window | (st.cur_byte >> st.bits_left));
}

unsigned get_bits(int n) {
    unsigned value = static_cast<unsigned>(st.window) >> (16 - n);
    fill_bits(n);
    return value;
}

// ----------------------------------------------------------------- tables

// Checks the lengths describe one complete code. The modulo-65536 test is
// the format's own; the exact sum also refuses an empty code and one that
// fills its space twice or more, which would pass it.
void check_lengths(int count, const uint8_t* len) {
    uint32_t sum = 0;
    for (int i = 0; i < count; ++i) {
        if (len[i] != 0)
            sum += uint32_t{1} << (kMaxLen - len[i]);
    }
    if ((sum & 0xFFFF) != 0)
        fatal_error("Bad table\n");
    if (sum != 0x10000)
        fatal_error(kFormatViolated);
}

void place_long_code(int symbol, int len, unsigned code, uint16_t* table, int bits,
                     unsigned* next_node) {
    uint16_t* p = &table[code >> (16 - bits)];
    unsigned tree_bit = 1u << (15 - bits);
    for (int i = len - bits; i > 0; --i) {
        if (*p == 0) {
            left_link()[*next_node] = right_link()[*next_node] = 0;
            *p = static_cast<uint16_t>((*next_node)++);
        }
        p = (code & tree_bit) != 0 ? &right_link()[*p] : &left_link()[*p];
        code <<= 1;
    }
    *p = static_cast<uint16_t>(symbol);
}

void make_table(int count, const uint8_t* len, int bits, uint16_t* table) {
    check_lengths(count, len);
    unsigned per_len[kMaxLen + 1] = {};
    for (int i = 0; i < count; ++i)
        per_len[len[i]]++;
    unsigned start[kMaxLen + 2];
    unsigned weight[kMaxLen + 1];
    start[1] = 0;
    for (int i = 1; i <= kMaxLen; ++i)
        start[i + 1] = (start[i] + (per_len[i] << (kMaxLen - i))) & 0xFFFF;
    for (int i = 1; i <= bits; ++i) {
        start[i] >>= 16 - bits;
        weight[i] = 1u << (bits - i);
    }
    for (int i = bits + 1; i <= kMaxLen; ++i)
        weight[i] = 1u << (kMaxLen - i);

    unsigned first_tree = start[bits + 1] >> (16 - bits);
    if (first_tree != 0) {
        for (unsigned i = first_tree; i < (1u << bits); ++i)
            table[i] = 0;
    }
    unsigned next_node = static_cast<unsigned>(count);
    for (int symbol = 0; symbol < count; ++symbol) {
        int l = len[symbol];
        if (l == 0)
            continue;
        unsigned end = start[l] + weight[l];
        if (l <= bits) {
            for (unsigned i = start[l]; i < end; ++i)
                table[i] = static_cast<uint16_t>(symbol);
        } else {
            place_long_code(symbol, l, start[l], table, bits, &next_node);
        }
        start[l] = end;
    }
}

// Table lookup, then the tree for the bits beyond the table; consumes the
// symbol's code.
int read_symbol(const uint16_t* table, int bits, int count, const uint8_t* len) {
    unsigned symbol = table[st.window >> (16 - bits)];
    unsigned bit = 1u << (15 - bits);
    while (symbol >= static_cast<unsigned>(count)) {
        if (bit == 0)
            fatal_error(kFormatViolated);
        symbol = (st.window & bit) != 0 ? right_link()[symbol] : left_link()[symbol];
        bit >>= 1;
    }
    fill_bits(len[symbol]);
    return static_cast<int>(symbol);
}

void set_single(int count, uint8_t* len, int table_size, uint16_t* table, unsigned symbol) {
    if (symbol >= static_cast<unsigned>(count))
        fatal_error(kFormatViolated);
    for (int i = 0; i < count; ++i)
        len[i] = 0;
    for (int i = 0; i < table_size; ++i)
        table[i] = static_cast<uint16_t>(symbol);
}

// ---------------------------------------------------------------- lengths

// A small code's length: three bits, and from 7 up one more per further 1
// bit, closed by a 0.
int read_small_length() {
    int len = st.window >> 13;
    if (len == 7) {
        for (unsigned bit = 1u << 12; (st.window & bit) != 0; bit >>= 1)
            ++len;
    }
    if (len > kMaxLen)
        fatal_error(kFormatViolated);
    fill_bits(len < 7 ? 3 : len - 3);
    return len;
}

void read_small_code(int count, int count_bits, int special) {
    unsigned n = get_bits(count_bits);
    if (n == 0) {
        set_single(count, small_len, 1 << kSmallTableBits, small_table, get_bits(count_bits));
        return;
    }
    if (n > static_cast<unsigned>(count))
        fatal_error(kFormatViolated);
    int i = 0;
    while (i < static_cast<int>(n)) {
        small_len[i++] = static_cast<uint8_t>(read_small_length());
        if (i == special) {
            int zeros = static_cast<int>(get_bits(2));
            if (i + zeros > count)
                fatal_error(kFormatViolated);
            while (zeros-- > 0)
                small_len[i++] = 0;
        }
    }
    while (i < count)
        small_len[i++] = 0;
    make_table(count, small_len, kSmallTableBits, small_table);
}

void read_literal_code() {
    unsigned n = get_bits(9);
    if (n == 0) {
        set_single(kLitCount, lit_len(), 1 << kLitTableBits, lit_table(), get_bits(9));
        return;
    }
    if (n > static_cast<unsigned>(kLitCount))
        fatal_error(kFormatViolated);
    uint8_t* len = lit_len();
    int i = 0;
    while (i < static_cast<int>(n)) {
        int c = read_symbol(small_table, kSmallTableBits, kLenCount, small_len);
        if (c > 2) {
            len[i++] = static_cast<uint8_t>(c - 2);
            continue;
        }
        int zeros = c == 0   ? 1
                    : c == 1 ? static_cast<int>(get_bits(4)) + 3
                             : static_cast<int>(get_bits(9)) + 20;
        if (i + zeros > kLitCount)
            fatal_error(kFormatViolated);
        while (zeros-- > 0)
            len[i++] = 0;
    }
    while (i < kLitCount)
        len[i++] = 0;
    make_table(kLitCount, len, kLitTableBits, lit_table());
}

// ---------------------------------------------------------------- symbols

// The next literal/length symbol, or -1 at the end of the stream.
int next_literal() {
    if (st.block_left == 0) {
        st.block_left = get_bits(16);
        if (st.block_left == 0) {
            st.finished = true;
            return -1;
        }
        read_small_code(kLenCount, 5, 3);
        read_literal_code();
        read_small_code(kPosCount, 4, -1);
    }
    st.block_left--;
    return read_symbol(lit_table(), kLitTableBits, kLitCount, lit_len());
}

unsigned next_distance() {
    unsigned p =
        static_cast<unsigned>(read_symbol(small_table, kSmallTableBits, kPosCount, small_len));
    if (p == 0)
        return 1;
    return (1u << (p - 1)) + get_bits(static_cast<int>(p) - 1) + 1;
}

// Copies the pending match; false when the dictionary filled first.
bool copy_match(unsigned* pos) {
    while (st.copy_left > 0) {
        --st.copy_left;
        window_buffer[*pos] = window_buffer[st.copy_from];
        st.copy_from = (st.copy_from + 1) & kDictMask;
        if (++*pos == kDictSize)
            return false;
    }
    return true;
}

// Produces up to 8192 bytes from position 0 of the dictionary.
unsigned fill_dictionary() {
    unsigned pos = 0;
    if (!copy_match(&pos))
        return pos;
    for (;;) {
        int c = next_literal();
        if (c < 0)
            return pos;
        if (c < 256) {
            window_buffer[pos] = static_cast<uint8_t>(c);
            if (++pos == kDictSize)
                return pos;
            continue;
        }
        st.copy_left = c - kMatchBias;
        st.copy_from = (pos - next_distance()) & kDictMask;
        if (!copy_match(&pos))
            return pos;
    }
}

} // namespace

// ------------------------------------------------------------------ entry

int decode_lzh_stream() {
    st = LzhState{};
    fill_bits(16);
    while (!st.finished) {
        unsigned n = fill_dictionary();
        if (n == 0)
            continue;
        write_all(output_fd, window_buffer, n);
        bytes_written_total += static_cast<int32_t>(n);
    }
    return 0;
}

} // namespace gunzip
