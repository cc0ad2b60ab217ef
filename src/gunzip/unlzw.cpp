// LZW decoder for compress(1) data (magic 1F 9D).
//
// Map of this file:
//   state        the reader's code width, table counters and bit position
//   input        compaction and refill of input_buffer between code groups
//   output       staging in output_buffer, written in pieces of 16384 bytes
//   strings      table walk through the decode stack
//   entry        decode_lzw_stream
//
// The tables live in the shared work areas: prefix_table holds the prefix of
// each code, window_buffer its last byte, and the end of distance_buffer is
// the decode stack. Nothing is allocated. The format carries no check value,
// so the output bypasses the running CRC.

#include <cstdio>
#include <cstring>

#include "gunzip/shared.h"

namespace gunzip {

namespace {

constexpr int kMaxBits = 16;           // widest code this reader accepts
constexpr int kClearCode = 256;        // in block mode only
constexpr unsigned kStageSize = 16384; // output piece size
constexpr unsigned kMinHeld = 64;      // fewer held bytes than this: read more
constexpr unsigned kShortString = 16;  // strings this long are staged in one fixed copy
constexpr int kFlagBlockMode = 0x80;
constexpr int kFlagReserved = 0x60;
constexpr int kFlagMaxBits = 0x1F;

// All of it set up afresh by each call.
struct LzwState {
    bool block_mode;   // flags bit 7: code 256 is CLEAR
    int max_bits;      // flags bits 0-4, at most kMaxBits here
    int width;         // width of the next code, 9 .. 16 bits
    int max_code;      // largest code at this width before it grows
    unsigned mask;     // 2^width - 1
    int limit;         // 2^max_bits: no code at or above it is assigned
    int free_code;     // next code to assign
    int prev;          // last code decoded; -1 before the first
    int first_byte;    // first byte of the string last decoded
    int bit_pos;       // next code's position in bits from input_buffer[0]
    int bits_avail;    // codes are taken while bit_pos is below this
    int last_read;     // result of the latest read; 0 once input has ended
    unsigned out_fill; // bytes staged in output_buffer
};

uint8_t* suffix_of() {
    return window_buffer;
}

// The stack ends kShortString bytes before the buffer does, so a fixed copy of
// a short string from it stays inside the buffer. The longest string, one per
// code above 255 plus one byte, still fits.
uint8_t* stack_top() {
    return reinterpret_cast<uint8_t*>(distance_buffer) + sizeof(distance_buffer) - kShortString;
}
static_assert(sizeof(distance_buffer) - kShortString >= (1u << kMaxBits) - 256 + 2);
static_assert(kStageSize + kShortString <= sizeof(output_buffer));

// ------------------------------------------------------------------ input

// Moves the unread bytes to the front, reads more when few are left, and
// decides how far codes may be taken: only whole groups while more input may
// follow, every complete code once the input has ended.
void refill(LzwState& s) {
    unsigned from = static_cast<unsigned>(s.bit_pos) >> 3;
    unsigned held = from < input_count ? input_count - from : 0;
    if (held != 0)
        std::memmove(input_buffer, input_buffer + from, held);
    input_count = held;
    s.bit_pos = 0;
    if (input_count < kMinHeld) {
        int got = crt_read(input_fd, input_buffer + input_count, kInputBlockSize);
        if (got == -1)
            report_read_failure();
        s.last_read = got;
        input_count += static_cast<unsigned>(got);
        bytes_read_total += got;
    }
    int count = static_cast<int>(input_count);
    s.bits_avail = s.last_read != 0 ? (count - count % s.width) * 8 : count * 8 - (s.width - 1);
}

// Codes are written in groups of eight, a group of n-bit codes being n bytes;
// a width change or CLEAR abandons the rest of the current group.
void skip_to_group_end(LzwState& s) {
    int group_bits = 8 * s.width;
    s.bit_pos += (group_bits - s.bit_pos % group_bits) % group_bits;
}

void set_width(LzwState& s, int width) {
    s.width = width;
    s.max_code = width == s.max_bits ? s.limit : (1 << width) - 1;
    s.mask = (1u << width) - 1;
}

int take_code(LzwState& s) {
    const uint8_t* p = input_buffer + (s.bit_pos >> 3);
    // NOTE: may touch two bytes past the valid data; input_buffer's spare
    // bytes cover them and the mask drops their bits.
    uint32_t bits = p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    int code = static_cast<int>((bits >> (s.bit_pos & 7)) & s.mask);
    s.bit_pos += s.width;
    return code;
}

// ----------------------------------------------------------------- output

void write_staged(LzwState& s) {
    if (s.out_fill == 0)
        return;
    write_all(output_fd, output_buffer, s.out_fill);
    bytes_written_total += static_cast<int32_t>(s.out_fill);
    s.out_fill = 0;
}

void stage(LzwState& s, const uint8_t* bytes, unsigned n) {
    while (s.out_fill + n >= kStageSize) {
        unsigned part = kStageSize - s.out_fill;
        std::memcpy(output_buffer + s.out_fill, bytes, part);
        s.out_fill = kStageSize;
        write_staged(s);
        bytes += part;
        n -= part;
    }
    std::memcpy(output_buffer + s.out_fill, bytes, n);
    s.out_fill += n;
}

// Most strings are a few bytes long. A copy of a fixed kShortString bytes is a
// few instructions, where a call of the C runtime's memcpy for a handful of
// bytes costs more than the copy (Wine's moves short tails a byte at a time).
// The bytes past the string land in the staging area's free part and are
// overwritten by the next string.
void stage_string(LzwState& s, const uint8_t* sp) {
    unsigned n = static_cast<unsigned>(stack_top() - sp);
    if (n <= kShortString && s.out_fill + n < kStageSize) {
        std::memcpy(output_buffer + s.out_fill, sp, kShortString);
        s.out_fill += n;
        return;
    }
    stage(s, sp, n);
}

[[noreturn]] void corrupt_after_flush(LzwState& s) {
    write_staged(s);
    fatal_error("corrupt input. Use zcat to recover some data.");
}

// ---------------------------------------------------------------- strings

// Decodes one code after the first; false when it was CLEAR.
bool decode_code(LzwState& s, int code) {
    if (code == kClearCode && s.block_mode) {
        s.free_code = kClearCode;
        skip_to_group_end(s);
        set_width(s, 9);
        s.max_code = 511;
        return false;
    }
    uint8_t* sp = stack_top();
    int incoming = code;
    if (code >= s.free_code) {
        // The code that is being defined right now (its string is the previous
        // one plus its own first byte). With the table full no such code can
        // exist, and the previous code would then name an entry never written.
        if (code > s.free_code || s.free_code >= s.limit)
            corrupt_after_flush(s);
        *--sp = static_cast<uint8_t>(s.first_byte);
        code = s.prev;
    }
    const uint8_t* suffix = suffix_of();
    while (code >= 256) {
        *--sp = suffix[code];
        code = prefix_table[code];
    }
    s.first_byte = suffix[code];
    *--sp = static_cast<uint8_t>(code);
    stage_string(s, sp);

    if (s.free_code < s.limit) {
        prefix_table[s.free_code] = static_cast<uint16_t>(s.prev);
        window_buffer[s.free_code] = static_cast<uint8_t>(s.first_byte);
        ++s.free_code;
    }
    s.prev = incoming;
    return true;
}

// Runs codes until the buffered bits are used up (true) or until the width
// changes or a CLEAR comes (false); either way the caller refills.
bool decode_codes(LzwState& s) {
    while (s.bit_pos < s.bits_avail) {
        if (s.free_code > s.max_code) {
            skip_to_group_end(s);
            set_width(s, s.width + 1);
            return false;
        }
        int code = take_code(s);
        if (s.prev == -1) {
            if (code >= 256)
                fatal_error("corrupt input.");
            uint8_t byte = static_cast<uint8_t>(code);
            stage(s, &byte, 1);
            s.prev = s.first_byte = code;
            continue;
        }
        if (!decode_code(s, code))
            return false;
    }
    return true;
}

bool read_header(LzwState& s) {
    int flags = next_byte();
    s.block_mode = (flags & kFlagBlockMode) != 0;
    if ((flags & kFlagReserved) != 0) {
        if (!quiet_mode)
            std::fprintf(stderr, "\n%s: %s: warning, unknown flags 0x%x\n", program_name,
                         input_name, flags & kFlagReserved);
        if (exit_status == 0)
            exit_status = 2;
    }
    s.max_bits = flags & kFlagMaxBits;
    if (s.max_bits > kMaxBits) {
        std::fprintf(stderr, "\n%s: %s: compressed with %d bits, can only handle %d bits\n",
                     program_name, input_name, s.max_bits, kMaxBits);
        exit_status = 1;
        return false;
    }
    return true;
}

} // namespace

// ------------------------------------------------------------------ entry

int decode_lzw_stream() {
    LzwState s{};
    if (!read_header(s))
        return 1;
    s.limit = 1 << s.max_bits;
    s.width = 9;
    s.max_code = 511;
    s.mask = 511;
    s.free_code = s.block_mode ? 257 : 256;
    s.prev = -1;
    s.bit_pos = static_cast<int>(input_pos) * 8;
    s.last_read = static_cast<int>(input_count);
    for (int i = 0; i < 256; ++i)
        window_buffer[i] = static_cast<uint8_t>(i);

    for (;;) {
        refill(s);
        if (!decode_codes(s))
            continue;
        if (s.last_read == 0)
            break;
    }
    write_staged(s);
    return 0;
}

} // namespace gunzip
