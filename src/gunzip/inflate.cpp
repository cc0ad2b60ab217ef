// DEFLATE decoder (RFC 1951): one raw stream per call of
// decode_deflate_stream, input from the shared input buffer, output through
// the shared window.
//
// Map of this file:
//   entries        packed lookup entries and the symbol maps
//   tables         build_lookup_tables and the code-length table
//   state          bit buffer, output position, tables, module-wide
//   bits           exact bit input (need / drop) and output cycles
//   slow path      one symbol at a time, near the end of a buffer
//   fast path      whole-word bit refills and word-sized copies
//   blocks         stored, fixed and dynamic blocks
//   entry          decode_deflate_stream
//
// Window layout. Output is staged in a private area whose first 32 KiB hold
// the history before the staged bytes, so a distance never wraps. When the
// stage is nearly full, the whole 32 KiB pieces staged so far are drained
// (CRC, write, count) in one write, and the rest with the 32 KiB before it
// moves down to the start; the end of the stream drains what is left. A
// stream starts with the history that window_buffer[0, 32768) holds: an
// earlier stream's output, zeros, or another decoder's tables (a distance
// reaching before the stream's first byte copies those, and only the CRC
// check catches it). At the end the last 32 KiB go back into window_buffer
// by output position modulo 32768, the layout the next stream, or another
// decoder, finds there.
//
// Input. The fast path keeps 56 to 63 bits in a 64-bit buffer, loading eight
// bytes at a time while at least that many remain in the buffered block; it
// never refills. Near the end of a block the slow path takes one byte at a
// time and refills only when a step needs bits that the block no longer has,
// counting for a Huffman code the bits that the classic two-level tables
// (9-bit literal/length, 6-bit distance first levels) would ask for, so that
// a stream ending exactly at the end of the input fails or succeeds the same
// way. Bytes taken ahead and not used are handed back at the end; they are
// always bytes of the current block.

#include <cstdio>
#include <cstring>

#include "gunzip/shared.h"

namespace gunzip {

#if defined(__GNUC__)
#define TV_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define TV_ALWAYS_INLINE __attribute__((always_inline))
#else
#define TV_UNLIKELY(x) (x)
#define TV_ALWAYS_INLINE
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#define TV_X86_DISPATCH 1
#endif

namespace {

// ------------------------------------------------------------------ entries

// A lookup entry, 32 bits, laid out so the fast loop needs few operations:
//   bits  0-4   bits this entry takes at its level: the code (for a sub-table
//               entry only its part below the root) plus any extra bits; for
//               a link, the root width
//   bit   6     kExceptional: a link, the end of the block or an invalid code
//   bit   7     kLiteral
//   bits  8-11  the code's length at its level; for a link the sub-table's
//               width (bits 12-13 stay clear: (e >> 8) & 63 is a shift count)
//   bit   14    kEnd (with kExceptional)
//   bit   15    kInvalid (with kExceptional)
//   bits 16-31  literal byte, base length or distance, or sub-table offset
// The low byte minus its two flag bits is a shift count, so a shift by the
// whole entry (count taken modulo 64) consumes the entry's bits, and a bit
// count that is only read modulo 64 may be lowered by the whole entry.
// Each entry has a twin in a byte array: the bits the classic two-level
// tables would need to resolve its code (see the slow path).
constexpr uint32_t kExceptional = 1u << 6;
constexpr uint32_t kLiteral = 1u << 7;
constexpr uint32_t kEnd = 1u << 14;
constexpr uint32_t kInvalid = 1u << 15;

constexpr uint32_t make_entry(unsigned code_len, unsigned extra, uint32_t flags, uint32_t value) {
    return (code_len + extra) | (code_len << 8) | flags | (value << 16);
}
inline unsigned entry_take(uint32_t e) {
    return e & 31;
}
inline unsigned entry_code_len(uint32_t e) {
    return (e >> 8) & 15;
}
inline unsigned entry_extra(uint32_t e) {
    return entry_take(e) - entry_code_len(e);
}
inline uint32_t entry_value(uint32_t e) {
    return e >> 16;
}
inline bool is_link(uint32_t e) {
    return (e & (kExceptional | kEnd | kInvalid)) == kExceptional;
}
inline bool is_invalid(uint32_t e) {
    return (e & (kExceptional | kInvalid)) == (kExceptional | kInvalid);
}
inline bool is_end(uint32_t e) {
    return (e & (kExceptional | kEnd)) == (kExceptional | kEnd);
}
constexpr uint32_t make_link(unsigned root, unsigned sub_bits, uint32_t offset) {
    return root | (sub_bits << 8) | kExceptional | (offset << 16);
}
constexpr uint32_t kInvalidEntry = kExceptional | kInvalid;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr unsigned char kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                11, 4,  12, 3, 13, 2, 14, 1, 15};

enum class Alphabet { kLiteralLength, kDistance };

// The entry of symbol sym for a code of length 0; a code of length len at
// its level adds len * kPerBit (its bit count and its code length).
constexpr uint32_t kPerBit = 0x101;

constexpr uint32_t symbol_template(Alphabet a, int sym) {
    if (a == Alphabet::kLiteralLength) {
        if (sym < 256)
            return make_entry(0, 0, kLiteral, static_cast<uint32_t>(sym));
        if (sym == 256)
            return make_entry(0, 0, kExceptional | kEnd, 0);
        if (sym < 286)
            return make_entry(0, kLengthExtra[sym - 257], 0, kLengthBase[sym - 257]);
    } else if (sym < 30) {
        return make_entry(0, kDistExtra[sym], 0, kDistBase[sym]);
    }
    return kInvalidEntry;
}

struct SymbolTemplates {
    uint32_t lit[288];
    uint32_t dist[30];
    constexpr SymbolTemplates() : lit{}, dist{} {
        for (int s = 0; s < 288; ++s)
            lit[s] = symbol_template(Alphabet::kLiteralLength, s);
        for (int s = 0; s < 30; ++s)
            dist[s] = symbol_template(Alphabet::kDistance, s);
    }
};
constexpr SymbolTemplates kTemplates;

// ------------------------------------------------------------------ tables

constexpr unsigned kLitRootBits = 11;
constexpr unsigned kDistRootBits = 8;
// Sub-tables of a complete code: each holds at least width + 1 codes, which
// bounds them for 286 literal/length and 30 distance symbols.
constexpr unsigned kLitTableSize = (1u << kLitRootBits) + 1024;
constexpr unsigned kDistTableSize = (1u << kDistRootBits) + 1024;

// Codes of the lengths min..max leave this many of the 2^max slots unused,
// or -1 when they ask for more codes than exist (an over-subscribed set).
// Counted level by level, so an overflow at a short length is caught whatever
// the longer lengths hold.
int unused_codes(const unsigned* count, unsigned min, unsigned max) {
    int left = 1 << min;
    for (unsigned k = min; k < max; ++k) {
        left -= static_cast<int>(count[k]);
        if (left < 0)
            return -1;
        left <<= 1;
    }
    left -= static_cast<int>(count[max]);
    return left < 0 ? -1 : left;
}

struct Code {
    const uint32_t* table; // root of kLitRootBits or kDistRootBits, then sub-tables
    const uint8_t* need;   // per entry: bits the classic tables would need
};

// Builds the lookup table of a code from its lengths. Returns 0 (complete,
// or a single one-bit code), 1 (incomplete; built only when allow_incomplete),
// 2 (over-subscribed; nothing built) or 3 (tables too small). classic_width
// is the first-level width the classic two-level tables would use, from
// which each entry's need is worked out.
class TableBuilder {
  public:
    TableBuilder(const uint8_t* lens, int n, Alphabet a)
        : lens_(lens), n_(n),
          templates_(a == Alphabet::kLiteralLength ? kTemplates.lit : kTemplates.dist) {}

    int build(unsigned classic_width, uint32_t* table, uint8_t* need, unsigned root,
              unsigned capacity, bool allow_incomplete);

  private:
    void open_classic_tables(unsigned k, uint32_t code);
    void close_classic_tables(uint32_t code);
    void widen_root(unsigned bits);
    bool place_long(uint32_t tmpl, unsigned k, uint32_t code, unsigned need);

    const uint8_t* lens_;
    int n_;
    const uint32_t* templates_;
    unsigned count_[17] = {};     // codes of each length, phantoms included
    unsigned remaining_[17] = {}; // codes of each length not yet placed
    unsigned max_ = 0;
    // The classic tables, simulated: level, start bit and prefix of each
    // open table, and the bits a lookup through it and its parents asks
    // for; m is their first-level width.
    int m_ = 0, level_ = -1, start_ = 0;
    int needs_[17] = {};
    uint32_t prefixes_[17] = {};
    // Our own tables. The root is filled for codes up to filled_ bits wide
    // and doubled by copying as longer codes arrive.
    uint32_t* table_ = nullptr;
    uint8_t* need_ = nullptr;
    unsigned root_ = 0, capacity_ = 0, used_ = 0, filled_ = 0;
    uint32_t sub_root_ = ~0u;
    uint32_t sub_start_ = 0;
    unsigned sub_bits_ = 0;
};

void TableBuilder::open_classic_tables(unsigned k, uint32_t code) {
    while (static_cast<int>(k) > start_ + m_) {
        ++level_;
        start_ += m_;
        int cap = m_ < static_cast<int>(max_) - start_ ? m_ : static_cast<int>(max_) - start_;
        int j = static_cast<int>(k) - start_;
        int left = static_cast<int>(remaining_[k]);
        if (j < cap && (1 << j) > left) {
            int f = (1 << j) - left;
            unsigned xk = k;
            while (++j < cap) {
                f <<= 1;
                ++xk;
                if (f <= static_cast<int>(count_[xk]))
                    break;
                f -= static_cast<int>(count_[xk]);
            }
        }
        int need = start_ + j;
        needs_[level_] = level_ > 0 && needs_[level_ - 1] > need ? needs_[level_ - 1] : need;
        prefixes_[level_] = start_ >= 32 ? code : code & ((1u << start_) - 1);
    }
}

void TableBuilder::close_classic_tables(uint32_t code) {
    while (level_ > 0 && (code & ((1u << start_) - 1)) != prefixes_[level_]) {
        --level_;
        start_ -= m_;
    }
}

// Entries placed so far cover every index of filled_ bits; copying them up
// makes them cover every index of `bits` bits.
void TableBuilder::widen_root(unsigned bits) {
    for (; filled_ < bits; ++filled_) {
        std::memcpy(table_ + (1u << filled_), table_, sizeof(uint32_t) << filled_);
        std::memcpy(need_ + (1u << filled_), need_, 1u << filled_);
    }
}

// A code longer than the root: its entry goes into the sub-table its first
// root_ bits lead to, opened here when the code is the first to need it.
bool TableBuilder::place_long(uint32_t tmpl, unsigned k, uint32_t code, unsigned need) {
    uint32_t r = code & ((1u << root_) - 1);
    if (r != sub_root_) {
        unsigned bits = k - root_;
        int left = 1 << bits;
        while (bits + root_ < max_) {
            left -= static_cast<int>(remaining_[bits + root_]);
            if (left <= 0)
                break;
            ++bits;
            left <<= 1;
        }
        if (used_ + (1u << bits) > capacity_)
            return false;
        table_[r] = make_link(root_, bits, used_);
        sub_start_ = used_;
        used_ += 1u << bits;
        sub_root_ = r;
        sub_bits_ = bits;
    }
    unsigned len = k - root_;
    uint32_t entry = tmpl + len * kPerBit;
    for (uint32_t i = code >> root_; i < (1u << sub_bits_); i += 1u << len) {
        table_[sub_start_ + i] = entry;
        need_[sub_start_ + i] = static_cast<uint8_t>(need);
    }
    return true;
}

int TableBuilder::build(unsigned classic_width, uint32_t* table, uint8_t* need, unsigned root,
                        unsigned capacity, bool allow_incomplete) {
    for (int i = 0; i < n_; ++i)
        ++count_[lens_[i]];
    if (count_[0] == static_cast<unsigned>(n_)) {
        // An empty code: every lookup is invalid and needs no bits.
        for (uint32_t i = 0; i < (1u << root); ++i)
            table[i] = kInvalidEntry;
        std::memset(need, 0, 1u << root);
        return 0;
    }
    unsigned min = 1;
    while (count_[min] == 0)
        ++min;
    max_ = 15;
    while (count_[max_] == 0)
        --max_;
    const int left = unused_codes(count_, min, max_);
    if (left < 0)
        return 2;
    int result = (left > 0 && max_ != 1) ? 1 : 0;
    if (result == 1 && !allow_incomplete)
        return 1;
    unsigned phantoms = static_cast<unsigned>(left);
    count_[max_] += phantoms;
    for (unsigned k = 0; k <= 16; ++k)
        remaining_[k] = count_[k];

    m_ = static_cast<int>(classic_width);
    if (m_ < static_cast<int>(min))
        m_ = static_cast<int>(min);
    if (m_ > static_cast<int>(max_))
        m_ = static_cast<int>(max_);
    start_ = -m_;
    table_ = table;
    need_ = need;
    root_ = root;
    capacity_ = capacity;
    used_ = 1u << root;
    filled_ = min < root ? min : root;

    // Symbols by length, then by symbol number; the phantoms follow at max.
    uint16_t sorted[288];
    unsigned offset[17] = {};
    for (unsigned k = 1; k < 16; ++k)
        offset[k + 1] = offset[k] + count_[k] - (k == max_ ? phantoms : 0);
    for (int s = 0; s < n_; ++s)
        if (lens_[s] != 0)
            sorted[offset[lens_[s]]++] = static_cast<uint16_t>(s);
    unsigned next = 0;
    uint32_t code = 0;
    for (unsigned k = min; k <= max_; ++k) {
        unsigned real_left = count_[k] - (k == max_ ? phantoms : 0);
        widen_root(k < root ? k : root);
        for (unsigned i = 0; i < count_[k]; ++i) {
            uint32_t tmpl = i < real_left ? templates_[sorted[next++]] : kInvalidEntry;
            if (static_cast<int>(k) > start_ + m_)
                open_classic_tables(k, code);
            int need = needs_[level_] > static_cast<int>(k) ? needs_[level_] : static_cast<int>(k);
            if (need > 15)
                need = 15;
            if (k <= root) {
                table[code] = tmpl + k * kPerBit;
                need_[code] = static_cast<uint8_t>(need);
            } else if (!place_long(tmpl, k, code, static_cast<unsigned>(need))) {
                return 3;
            }
            --remaining_[k];
            uint32_t bit = 1u << (k - 1);
            while (code & bit)
                bit >>= 1;
            code = bit ? (code & (bit - 1)) | bit : 0;
            if (level_ > 0)
                close_classic_tables(code);
        }
    }
    widen_root(root);
    return result;
}

// The code-length code: one level, exactly as wide as the classic table (at
// most 7 bits). Entry: length << 8 | symbol; symbol 0xFF is invalid.
struct CodeLengthCode {
    unsigned width = 0; // 0 for an empty code
    uint16_t table[128];
};

int build_code_length_code(const uint8_t* lens, CodeLengthCode& c) {
    unsigned count[8] = {};
    for (int i = 0; i < 19; ++i)
        ++count[lens[i]];
    c.width = 0;
    if (count[0] == 19)
        return 0;
    unsigned min = 1, max = 7;
    while (count[min] == 0)
        ++min;
    while (count[max] == 0)
        --max;
    const int left = unused_codes(count, min, max);
    if (left < 0)
        return 2;
    if (left > 0 && max != 1)
        return 1;
    c.width = max;
    for (unsigned i = 0; i < (1u << max); ++i)
        c.table[i] = static_cast<uint16_t>((max << 8) | 0xFF);
    uint32_t code = 0;
    for (unsigned k = min; k <= max; ++k) {
        for (int sym = 0; sym < 19; ++sym) {
            if (lens[sym] != k)
                continue;
            for (uint32_t i = code; i < (1u << max); i += 1u << k)
                c.table[i] = static_cast<uint16_t>((k << 8) | static_cast<unsigned>(sym));
            uint32_t bit = 1u << (k - 1);
            while (code & bit)
                bit >>= 1;
            code = bit ? (code & (bit - 1)) | bit : 0;
        }
    }
    return 0;
}

// ------------------------------------------------------------------ state

uint64_t bit_buffer;               // input bits, consumed from the low end
unsigned bits_held;                // valid bits in bit_buffer; bits above are upcoming input or 0
constexpr size_t kHistory = 32768; // the farthest a distance reaches
constexpr size_t kPiece = 32768;   // output is drained in whole pieces of this size
constexpr size_t kStageSize = 8 * kPiece; // staged output between history moves
// History, staged output, and room for the word copies that overshoot.
alignas(64) uint8_t stage[kHistory + kStageSize + kWindowSlack];
uint8_t* const kStageStart = stage + kHistory;
uint8_t* const kStageEnd = kStageStart + kStageSize;
// The fast loop starts a symbol only at or below this point: a longest match
// and its overshoot still end inside the stage. Past it the stage moves down
// (settle_output), so out never passes it between symbols.
uint8_t* const kOutLimit = kStageEnd - 258 - 32;
uint8_t* out;         // next output byte, in [kStageStart, kStageEnd)
uint8_t* piece_start; // first byte not yet drained, at a multiple of 32768 positions

uint32_t lit_table[kLitTableSize]; // literal/length code of the current dynamic block
uint8_t lit_need[kLitTableSize];
uint32_t dist_table[kDistTableSize]; // its distance code
uint8_t dist_need[kDistTableSize];
uint32_t fixed_lit[kLitTableSize]; // the fixed codes, built on first use
uint8_t fixed_lit_need[kLitTableSize];
uint32_t fixed_dist[kDistTableSize];
uint8_t fixed_dist_need[kDistTableSize];
bool fixed_built;

// ------------------------------------------------------------------ bits

inline void take_byte(int b) {
    bit_buffer |= static_cast<uint64_t>(b) << bits_held;
    bits_held += 8;
}

// Makes n bits available, refilling the input when the block is used up.
inline void need(unsigned n) {
    while (bits_held < n)
        take_byte(input_pos < input_count ? input_buffer[input_pos++] : refill_input(false));
}

inline uint32_t peek(unsigned n) {
    return static_cast<uint32_t>(bit_buffer) & ((1u << n) - 1);
}

inline void drop(unsigned n) {
    bit_buffer >>= n;
    bits_held -= n;
}

// Takes every byte the current block still has, while a whole byte fits
// below bit 63 (the fast path refills from there).
inline void take_available() {
    while (bits_held < 56 && input_pos < input_count)
        take_byte(input_buffer[input_pos++]);
}

void drain(uint8_t* from, size_t n) {
    if (n == 0)
        return;
    crc32_update(from, n);
    write_all(output_fd, from, static_cast<unsigned>(n));
    bytes_written_total += static_cast<int32_t>(n);
}

// Once out has passed kOutLimit: drains the whole pieces staged so far in
// one write (fewer, larger writes cost the kernel less), then moves the
// undrained rest and the history before it down to the start of the stage.
inline void settle_output() {
    if (TV_UNLIKELY(out > kOutLimit)) {
        size_t whole = static_cast<size_t>(out - piece_start) / kPiece * kPiece;
        drain(piece_start, whole);
        piece_start += whole;
        uint8_t* from = piece_start - kHistory;
        size_t keep = static_cast<size_t>(out - from);
        std::memcpy(stage, from, keep);
        piece_start = kStageStart;
        out = stage + keep;
    }
}

// ------------------------------------------------------------------ slow path

// The entry of the next code, with as many bits held as the classic tables
// would have asked for; *prefix gets the root bits taken by a link.
uint32_t lookup_exact(const Code& c, unsigned root, unsigned* prefix) {
    for (;;) {
        take_available();
        uint32_t i = static_cast<uint32_t>(bit_buffer) & ((1u << root) - 1);
        uint32_t e = c.table[i];
        unsigned pre = 0;
        if (is_link(e)) {
            i = entry_value(e) +
                static_cast<uint32_t>((bit_buffer >> root) & ((1u << entry_code_len(e)) - 1));
            e = c.table[i];
            pre = root;
        }
        if (c.need[i] <= bits_held) {
            *prefix = pre;
            return e;
        }
        take_byte(refill_input(false));
    }
}

// One symbol; 0 to go on, 1 invalid data, -1 end of block.
int slow_symbol(const Code& lit, const Code& dist) {
    unsigned pre;
    uint32_t e = lookup_exact(lit, kLitRootBits, &pre);
    if (is_invalid(e))
        return 1;
    drop(pre + entry_code_len(e));
    if (e & kLiteral) {
        *out++ = static_cast<uint8_t>(entry_value(e));
        return 0;
    }
    if (is_end(e))
        return -1;
    unsigned extra = entry_extra(e);
    need(extra);
    unsigned length = entry_value(e) + peek(extra);
    drop(extra);
    uint32_t d = lookup_exact(dist, kDistRootBits, &pre);
    if (is_invalid(d))
        return 1;
    drop(pre + entry_code_len(d));
    extra = entry_extra(d);
    need(extra);
    unsigned distance = entry_value(d) + peek(extra);
    drop(extra);
    for (; length > 0; --length, ++out)
        *out = *(out - distance);
    return 0;
}

// ------------------------------------------------------------------ fast path

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

inline void store64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}

inline void copy16(uint8_t* dst, const uint8_t* src) {
    std::memcpy(dst, src, 16);
}

// Copies a match in whole words; may store up to 31 bytes past its end.
TV_ALWAYS_INLINE inline void copy_match(uint8_t* dst, unsigned distance, unsigned length) {
    const uint8_t* src = dst - distance;
    uint8_t* const end = dst + length;
    if (distance >= 16) {
        // Most matches are short: two chunks without a test. For a distance
        // below 32 the second chunk reads bytes the first has just stored.
        copy16(dst, src);
        copy16(dst + 16, src + 16);
        while (TV_UNLIKELY(dst + 32 < end)) {
            dst += 32;
            src += 32;
            copy16(dst, src);
            copy16(dst + 16, src + 16);
        }
    } else if (distance >= 8) {
        // The second word reads bytes the first has just finished.
        do {
            store64(dst, load64(src));
            store64(dst + 8, load64(src + 8));
            dst += 16;
            src += 16;
        } while (dst < end);
    } else if (distance == 1) {
        uint64_t v = *src * 0x0101010101010101ull;
        do {
            store64(dst, v);
            store64(dst + 8, v);
            dst += 16;
        } while (dst < end);
    } else {
        // Each word stored holds `distance` finished bytes and leftovers
        // that the next word, loaded from `distance` back, overwrites.
        do {
            store64(dst, load64(src));
            dst += distance;
            src += distance;
        } while (dst < end);
    }
}

// Decodes while the block has 8 unread bytes for each refill and the output
// is at or below kOutLimit. Returns 0 to continue slowly, 1 invalid, -1 end.
//
// Bits: a refill leaves 56 to 63 bits. A literal from the root table takes
// at most 11, so four of them and the root lookup after them fit; a length
// and a distance with their extra bits take at most 20 + 28. The bit count
// is only read modulo 64 (see the entries), and the entry after the current
// one is looked up before a match is copied, so the two overlap.
template <bool kBmi2>
TV_ALWAYS_INLINE inline int fast_symbols_body(const Code& lit, const Code& dist) {
    uint8_t* o = out;
    // 16: the refill on entry and the one of the first symbol run unchecked.
    if (input_count - input_pos < 16 || o > kOutLimit)
        return 0;
    const uint8_t* in = input_buffer + input_pos;
    const uint8_t* const in_limit = input_buffer + input_count - 8;
    uint64_t bb = bit_buffer;
    uint32_t bc = bits_held;
    const uint32_t* const lt = lit.table;
    const uint32_t* const dt = dist.table;
    constexpr uint64_t lit_mask = (1u << kLitRootBits) - 1;
    constexpr uint64_t dist_mask = (1u << kDistRootBits) - 1;
    int result = 0;
    auto refill = [&] {
        bb |= load64(in) << (bc & 63);
        in += 7 - ((bc >> 3) & 7);
        bc |= 56;
    };
    auto take = [&](uint32_t entry) {
        bb >>= entry & 63;
        bc -= entry;
    };
    // The extra bits of a length or distance entry, from the bits it was
    // looked up in: below the entry's bit count, above its code length.
    auto extra = [](uint64_t bits, uint32_t entry) {
#ifdef TV_X86_DISPATCH
        // GCC does not form BZHI from the mask, and its intrinsic cannot be
        // inlined into this template; the entry's low byte is below 64.
        if constexpr (kBmi2)
            asm("bzhi %2, %1, %0" : "=r"(bits) : "r"(bits), "r"(uint64_t{entry}));
        else
#endif
            bits &= (uint64_t{1} << (entry & 63)) - 1;
        return static_cast<uint32_t>(bits >> ((entry >> 8) & 63));
    };
    refill();
    uint32_t e = lt[bb & lit_mask];
    for (;;) {
        if (e & kLiteral) {
            take(e);
            *o++ = static_cast<uint8_t>(entry_value(e));
            e = lt[bb & lit_mask];
            if (e & kLiteral) {
                take(e);
                *o++ = static_cast<uint8_t>(entry_value(e));
                e = lt[bb & lit_mask];
                if (e & kLiteral) {
                    take(e);
                    *o++ = static_cast<uint8_t>(entry_value(e));
                    e = lt[bb & lit_mask];
                    if (e & kLiteral) {
                        take(e);
                        *o++ = static_cast<uint8_t>(entry_value(e));
                        e = lt[bb & lit_mask];
                    }
                }
            }
            refill();
            if (in > in_limit || o > kOutLimit)
                break;
            continue;
        }
        if (TV_UNLIKELY(e & kExceptional)) {
            if (!is_link(e)) {
                if (is_end(e)) {
                    take(e);
                    result = -1;
                } else {
                    result = 1;
                }
                break;
            }
            // A code longer than the root: the rest of it indexes a sub-table.
            take(e);
            e = lt[entry_value(e) + (bb & ((uint64_t{1} << entry_code_len(e)) - 1))];
            if (e & kLiteral) {
                take(e);
                *o++ = static_cast<uint8_t>(entry_value(e));
                e = lt[bb & lit_mask];
                refill();
                if (in > in_limit || o > kOutLimit)
                    break;
                continue;
            }
            if (e & kExceptional) {
                if (is_end(e)) {
                    take(e);
                    result = -1;
                } else {
                    result = 1;
                }
                break;
            }
        }
        uint64_t saved = bb;
        take(e);
        unsigned length = entry_value(e) + extra(saved, e);
        uint32_t d = dt[bb & dist_mask];
        if (TV_UNLIKELY(d & kExceptional)) {
            if (!is_link(d)) {
                result = 1;
                break;
            }
            take(d);
            d = dt[entry_value(d) + (bb & ((uint64_t{1} << entry_code_len(d)) - 1))];
            if (d & kExceptional) {
                result = 1;
                break;
            }
        }
        saved = bb;
        take(d);
        unsigned distance = entry_value(d) + extra(saved, d);
        // The next entry from the bits left, when they are enough (nearly
        // always), so that its lookup does not wait for the refill.
        e = lt[bb & lit_mask];
        bool short_of_bits = (bc & 63) < kLitRootBits;
        refill();
        if (TV_UNLIKELY(short_of_bits))
            e = lt[bb & lit_mask];
        copy_match(o, distance, length);
        o += length;
        if (in > in_limit || o > kOutLimit)
            break;
    }
    input_pos = static_cast<uint32_t>(in - input_buffer);
    bit_buffer = bb;
    bits_held = bc & 63;
    out = o;
    return result;
}

int fast_symbols_plain(const Code& lit, const Code& dist) {
    return fast_symbols_body<false>(lit, dist);
}

#ifdef TV_X86_DISPATCH
// The same loop with BMI2's variable shifts and bit extracts, which shorten
// the chain from one lookup to the next; chosen once by CPU.
__attribute__((target("bmi2"))) int fast_symbols_bmi2(const Code& lit, const Code& dist) {
    return fast_symbols_body<true>(lit, dist);
}
const auto fast_symbols = __builtin_cpu_supports("bmi2") ? fast_symbols_bmi2 : fast_symbols_plain;
#else
const auto fast_symbols = fast_symbols_plain;
#endif

// ------------------------------------------------------------------ blocks

int decode_compressed_data(const Code& lit, const Code& dist) {
    for (;;) {
        int r = fast_symbols(lit, dist);
        settle_output();
        if (r != 0)
            return r > 0 ? 1 : 0;
        r = slow_symbol(lit, dist);
        settle_output();
        if (r != 0)
            return r > 0 ? 1 : 0;
    }
}

int decode_stored_block() {
    drop(bits_held & 7);
    // Whole bytes held are unread bytes of the current block: give them back
    // and copy straight from the buffer.
    input_pos -= bits_held >> 3;
    bit_buffer = 0;
    bits_held = 0;
    unsigned len = static_cast<unsigned>(next_byte());
    len |= static_cast<unsigned>(next_byte()) << 8;
    unsigned nlen = static_cast<unsigned>(next_byte());
    nlen |= static_cast<unsigned>(next_byte()) << 8;
    if (len != (~nlen & 0xFFFF))
        return 1;
    while (len > 0) {
        if (input_pos == input_count) {
            refill_input(false);
            input_pos = 0;
        }
        unsigned n = input_count - input_pos;
        if (n > len)
            n = len;
        if (n > static_cast<unsigned>(kStageEnd - out))
            n = static_cast<unsigned>(kStageEnd - out);
        std::memcpy(out, input_buffer + input_pos, n);
        input_pos += n;
        out += n;
        len -= n;
        settle_output();
    }
    return 0;
}

int decode_fixed_block() {
    if (!fixed_built) {
        uint8_t lens[288];
        std::memset(lens, 8, 144);
        std::memset(lens + 144, 9, 112);
        std::memset(lens + 256, 7, 24);
        std::memset(lens + 280, 8, 8);
        TableBuilder(lens, 288, Alphabet::kLiteralLength)
            .build(7, fixed_lit, fixed_lit_need, kLitRootBits, kLitTableSize, false);
        std::memset(lens, 5, 30);
        TableBuilder(lens, 30, Alphabet::kDistance)
            .build(5, fixed_dist, fixed_dist_need, kDistRootBits, kDistTableSize, true);
        fixed_built = true;
    }
    return decode_compressed_data(Code{fixed_lit, fixed_lit_need},
                                  Code{fixed_dist, fixed_dist_need});
}

// Reads the literal/length and distance code lengths; 0, 1 or 2.
int read_code_lengths(uint8_t* lens, unsigned total) {
    need(4);
    unsigned ncl = peek(4) + 4;
    drop(4);
    uint8_t cl_lens[19] = {};
    for (unsigned i = 0; i < ncl; ++i) {
        need(3);
        cl_lens[kCodeLengthOrder[i]] = static_cast<uint8_t>(peek(3));
        drop(3);
    }
    static CodeLengthCode cl;
    int r = build_code_length_code(cl_lens, cl);
    if (r != 0)
        return r;
    unsigned previous = 0;
    for (unsigned i = 0; i < total;) {
        need(cl.width);
        uint16_t e = cl.width ? cl.table[peek(cl.width)] : 0xFF;
        if ((e & 0xFF) == 0xFF)
            return 1;
        drop(e >> 8);
        unsigned sym = e & 0xFF;
        unsigned repeat, value;
        if (sym < 16) {
            lens[i++] = static_cast<uint8_t>(sym);
            previous = sym;
            continue;
        }
        if (sym == 16) {
            need(2);
            repeat = 3 + peek(2);
            drop(2);
            value = previous;
        } else if (sym == 17) {
            need(3);
            repeat = 3 + peek(3);
            drop(3);
            value = previous = 0;
        } else {
            need(7);
            repeat = 11 + peek(7);
            drop(7);
            value = previous = 0;
        }
        if (i + repeat > total)
            return 1;
        std::memset(lens + i, static_cast<int>(value), repeat);
        i += repeat;
    }
    return 0;
}

int decode_dynamic_block() {
    need(5);
    unsigned nlit = peek(5) + 257;
    drop(5);
    need(5);
    unsigned ndist = peek(5) + 1;
    drop(5);
    // The code-length count is read before the range check, as it has always been.
    if (nlit > 286 || ndist > 30) {
        need(4);
        drop(4);
        return 1;
    }
    uint8_t lens[316];
    int r = read_code_lengths(lens, nlit + ndist);
    if (r != 0)
        return r;
    r = TableBuilder(lens, static_cast<int>(nlit), Alphabet::kLiteralLength)
            .build(9, lit_table, lit_need, kLitRootBits, kLitTableSize, false);
    if (r == 1)
        std::fputs(" incomplete literal tree\n", stderr);
    if (r != 0)
        return r;
    r = TableBuilder(lens + nlit, static_cast<int>(ndist), Alphabet::kDistance)
            .build(6, dist_table, dist_need, kDistRootBits, kDistTableSize, false);
    if (r == 1)
        std::fputs(" incomplete distance tree\n", stderr);
    if (r != 0)
        return r;
    return decode_compressed_data(Code{lit_table, lit_need}, Code{dist_table, dist_need});
}

// One block; 0 and *last set, or the failure code.
int decode_block(bool* last) {
    need(1);
    *last = peek(1) != 0;
    drop(1);
    need(2);
    unsigned type = peek(2);
    drop(2);
    switch (type) {
    case 0:
        return decode_stored_block();
    case 1:
        return decode_fixed_block();
    case 2:
        return decode_dynamic_block();
    default:
        return 2;
    }
}

} // namespace

// ------------------------------------------------------------------ entry

int decode_deflate_stream() {
    window_fill = 0;
    bit_buffer = 0;
    bits_held = 0;
    std::memcpy(stage, window_buffer, kHistory);
    out = piece_start = kStageStart;
    bool last = false;
    do {
        int r = decode_block(&last);
        if (r != 0)
            return r;
    } while (!last);
    input_pos -= bits_held >> 3;
    bits_held = 0;
    bit_buffer = 0;
    drain(piece_start, static_cast<size_t>(out - piece_start));
    // The last 32 KiB back into the window, by output position modulo 32768
    // (kStageStart is at a multiple of 32768 positions).
    size_t r = static_cast<size_t>(out - stage) % kHistory;
    std::memcpy(window_buffer + r, out - kHistory, kHistory - r);
    std::memcpy(window_buffer, out - r, r);
    window_fill = 0;
    return 0;
}

} // namespace gunzip
