// The shared input/output layer: work areas, block-wise input, the staging
// window with its CRC-32, diagnostics and the single abort path.
//
// Map of this file:
//   work areas     the buffers and counters every decoder shares
//   crc            CRC-32 (RFC 1952): carry-less folding where the CPU has it
//                  (512-bit lanes where it has those too), else eight bytes
//                  per table step
//   input          reset_buffers, refill_input
//   output         drain_window, write_all
//   diagnostics    fatal_error, report_*_failure, warn
//   abort          abort_decompression, exit_with_status and its test seam

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gunzip/gunzip.h"
#include "gunzip/shared.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define TV_CRC_CLMUL 1
#endif

namespace gunzip {

// ------------------------------------------------------------------ work areas

alignas(64) uint8_t input_buffer[kInputBlockSize + kInputSpare];
uint32_t input_count;
uint32_t input_pos;
alignas(64) uint8_t window_buffer[kWindowSize + kWindowSlack];
uint32_t window_fill;
alignas(64) uint8_t output_buffer[kOutputBufferSize + kOutputSpare];
alignas(64) uint16_t prefix_table[kPrefixTableSize];
alignas(64) uint16_t distance_buffer[kDistanceBufferSize];
int32_t bytes_read_total;
int32_t bytes_written_total;

namespace {

uint32_t crc_register = 0xFFFFFFFFu; // running CRC-32, before the final inversion
gunzip_exit_handler exit_handler;    // test seam; null in the product

// ------------------------------------------------------------------ crc

// crc_tables[0] is the standard table of the reflected polynomial 0xEDB88320;
// table k advances a byte that lies k positions further back, so eight bytes
// are folded in one step.
struct CrcTables {
    uint32_t t[8][256];
    constexpr CrcTables() : t{} {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; ++n)
            for (int k = 1; k < 8; ++k)
                t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
    }
};
constexpr CrcTables kCrc;

uint32_t crc_run(uint32_t c, const uint8_t* p, size_t n) {
    while (n >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        lo ^= c;
        c = kCrc.t[7][lo & 0xFF] ^ kCrc.t[6][(lo >> 8) & 0xFF] ^ kCrc.t[5][(lo >> 16) & 0xFF] ^
            kCrc.t[4][lo >> 24] ^ kCrc.t[3][hi & 0xFF] ^ kCrc.t[2][(hi >> 8) & 0xFF] ^
            kCrc.t[1][(hi >> 16) & 0xFF] ^ kCrc.t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--)
        c = kCrc.t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c;
}

#ifdef TV_CRC_CLMUL
// Carry-less multiplication folds 64 bytes per step: each 16-byte lane is
// multiplied by x^512 (or x^128) modulo the polynomial, in two 64-bit halves,
// and added to the lane that lies that far ahead. What is left is a 16-byte
// value with the same CRC as everything folded into it, finished by the
// table. The constants are those powers of x modulo 0x104C11DB7, bit-reflected
// and shifted left by one as the reflected product needs.
__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse2"))) uint32_t crc_run_clmul(uint32_t c, const uint8_t* p,
                                                              size_t n) {
    const __m128i k512 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    auto load = [](const uint8_t* q) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    };
    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(c)));
    __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = _mm_xor_si128(fold(x0, k512), load(p));
        x1 = _mm_xor_si128(fold(x1, k512), load(p + 16));
        x2 = _mm_xor_si128(fold(x2, k512), load(p + 32));
        x3 = _mm_xor_si128(fold(x3, k512), load(p + 48));
        p += 64;
        n -= 64;
    }
    x0 = _mm_xor_si128(fold(x0, k128), x1);
    x0 = _mm_xor_si128(fold(x0, k128), x2);
    x0 = _mm_xor_si128(fold(x0, k128), x3);
    while (n >= 16) {
        x0 = _mm_xor_si128(fold(x0, k128), load(p));
        p += 16;
        n -= 16;
    }
    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), x0);
    return crc_run(crc_run(0, rest, 16), p, n);
}

// The same folding four 64-byte lanes at a time with 512-bit carry-less
// multiplies (x^2048 for lanes 256 bytes apart, x^512 to merge them), then
// down to 16 bytes as above.
// (Macros: a helper taking or returning 512-bit vectors would need the
// vector ABI that the rest of the program is not built with.)
#define TV_LOAD512(q) _mm512_loadu_si512(q)
#define TV_FOLD512(x, k, next)                                                                     \
    _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),                                \
                              _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96)

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse2"))) uint32_t
crc_run_vpclmul(uint32_t c, const uint8_t* p, size_t n) {
    const __m512i k2048 = _mm512_set_epi64(0x1322d1430, 0x11542778a, 0x1322d1430, 0x11542778a,
                                           0x1322d1430, 0x11542778a, 0x1322d1430, 0x11542778a);
    const __m512i k512 = _mm512_set_epi64(0x1c6e41596, 0x154442bd4, 0x1c6e41596, 0x154442bd4,
                                          0x1c6e41596, 0x154442bd4, 0x1c6e41596, 0x154442bd4);
    const __m128i k128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);
    __m512i x0 = _mm512_xor_si512(TV_LOAD512(p),
                                  _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(c))));
    __m512i x1 = TV_LOAD512(p + 64), x2 = TV_LOAD512(p + 128), x3 = TV_LOAD512(p + 192);
    p += 256;
    n -= 256;
    while (n >= 256) {
        x0 = TV_FOLD512(x0, k2048, TV_LOAD512(p));
        x1 = TV_FOLD512(x1, k2048, TV_LOAD512(p + 64));
        x2 = TV_FOLD512(x2, k2048, TV_LOAD512(p + 128));
        x3 = TV_FOLD512(x3, k2048, TV_LOAD512(p + 192));
        p += 256;
        n -= 256;
    }
    x0 = TV_FOLD512(x0, k512, x1);
    x0 = TV_FOLD512(x0, k512, x2);
    x0 = TV_FOLD512(x0, k512, x3);
    while (n >= 64) {
        x0 = TV_FOLD512(x0, k512, TV_LOAD512(p));
        p += 64;
        n -= 64;
    }
    alignas(64) uint8_t lanes[64];
    _mm512_store_si512(lanes, x0);
    // NOTE: without this the upper vector state stays dirty after return, and every
    // legacy-SSE instruction the process runs afterwards pays a transition penalty
    // (measured: unrelated SSE code 30x slower after one decompression).
    _mm256_zeroupper();
    auto lane = [&](int i) { return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes) + i); };
    __m128i y = lane(0);
    y = _mm_xor_si128(fold(y, k128), lane(1));
    y = _mm_xor_si128(fold(y, k128), lane(2));
    y = _mm_xor_si128(fold(y, k128), lane(3));
    while (n >= 16) {
        y = _mm_xor_si128(fold(y, k128), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        p += 16;
        n -= 16;
    }
    uint8_t rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), y);
    return crc_run(crc_run(0, rest, 16), p, n);
}

const bool kHaveClmul = __builtin_cpu_supports("pclmul");
const bool kHaveVpclmul = __builtin_cpu_supports("vpclmulqdq") && __builtin_cpu_supports("avx512f");
#endif

} // namespace

uint32_t crc32_update(const void* bytes, size_t n) {
    if (bytes == nullptr) {
        crc_register = 0xFFFFFFFFu;
        return 0;
    }
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
#ifdef TV_CRC_CLMUL
    if (n >= 256 && kHaveVpclmul) {
        crc_register = crc_run_vpclmul(crc_register, p, n);
        return crc_register ^ 0xFFFFFFFFu;
    }
    if (n >= 64 && kHaveClmul) {
        crc_register = crc_run_clmul(crc_register, p, n);
        return crc_register ^ 0xFFFFFFFFu;
    }
#endif
    crc_register = crc_run(crc_register, p, n);
    return crc_register ^ 0xFFFFFFFFu;
}

// ------------------------------------------------------------------ input

void reset_buffers() {
    window_fill = 0;
    input_count = 0;
    input_pos = 0;
    bytes_read_total = 0;
    bytes_written_total = 0;
}

int refill_input(bool eof_ok) {
    input_count = 0;
    errno = 0;
    do {
        int got = crt_read(input_fd, input_buffer + input_count, kInputBlockSize - input_count);
        if (got <= 0)
            break;
        input_count += static_cast<uint32_t>(got);
    } while (input_count < kInputBlockSize);
    if (input_count == 0) {
        input_pos = 0;
        if (eof_ok)
            return -1;
        report_read_failure();
    }
    bytes_read_total += static_cast<int32_t>(input_count);
    input_pos = 1;
    return input_buffer[0];
}

// ------------------------------------------------------------------ output

void drain_window() {
    if (window_fill == 0)
        return;
    crc32_update(window_buffer, window_fill);
    write_all(output_fd, window_buffer, window_fill);
    bytes_written_total += static_cast<int32_t>(window_fill);
    window_fill = 0;
}

void write_all(int fd, const void* bytes, unsigned n) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    const unsigned total = n;
    int done;
    while ((done = crt_write(fd, p, n)) != static_cast<int>(n)) {
        if (done == -1)
            report_write_failure();
        p += done;
        n -= static_cast<unsigned>(done);
    }
    if (progress_notice != nullptr)
        progress_notice(total);
}

// ------------------------------------------------------------------ diagnostics

void report_platform_error(const char* name) {
    std::fprintf(stderr, "%s: %s\n", name, crt_error_text(errno));
}

void warn(const char* format, ...) {
    if (!quiet_mode) {
        va_list args;
        va_start(args, format);
        std::vfprintf(stderr, format, args);
        va_end(args);
    }
    if (exit_status == 0)
        exit_status = 2;
}

void fatal_error(const char* text) {
    std::fprintf(stderr, "\n%s: %s: %s\n", program_name, input_name, text);
    abort_decompression();
}

void report_read_failure() {
    int error_number = errno;
    std::fprintf(stderr, "\n%s: ", program_name);
    if (error_number != 0) {
        errno = error_number;
        report_platform_error(input_name);
    } else {
        std::fprintf(stderr, "%s: unexpected end of file\n", input_name);
    }
    abort_decompression();
}

void report_write_failure() {
    int error_number = errno;
    std::fprintf(stderr, "\n%s: ", program_name);
    errno = error_number;
    report_platform_error(output_name);
    abort_decompression();
}

// ------------------------------------------------------------------ abort

void abort_decompression() {
    if (output_incomplete) {
        crt_close(output_fd);
        output_fd = -1;
        crt_unlink(partial_name);
        output_incomplete = false;
    }
    if (fatal_notice != nullptr)
        fatal_notice(input_name);
    exit_with_status(1);
}

void exit_with_status(int32_t code) {
    if (exit_handler != nullptr)
        exit_handler(code);
    std::exit(code);
}

} // namespace gunzip

void set_gunzip_exit_handler(gunzip_exit_handler handler) {
    gunzip::exit_handler = handler;
}
