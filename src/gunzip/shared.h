// The decompressor's shared work areas, its input/output and CRC layer, its
// diagnostics and single abort path, and the module-wide values of the driver
// that the decoders read. Every decoder is written against this header.
//
// The decompressor is plain functions over module-wide state; it is not
// reentrant and runs one file at a time on one thread. Only the C runtime's
// descriptor functions (platform/crt_io.h) lie below it. Everything here
// lives in namespace gunzip; the client sees only gunzip.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gunzip/gunzip.h"
#include "platform/crt_io.h"

namespace gunzip {

// ------------------------------------------------------------ sizes

constexpr unsigned kInputBlockSize = 32768; // one refill reads at most this
constexpr unsigned kInputSpare = 64;        // room after a full block (LZW)
constexpr unsigned kWindowSize = 65536;     // window_buffer, as decoders see it
// NOTE: the DEFLATE decoder copies matches in whole words and may store up to
// this many bytes past the point it has reached; its output stage ends in this
// margin, so they never land past the array. window_buffer keeps the same
// margin as a guard; every decoder uses only its first kWindowSize bytes.
constexpr unsigned kWindowSlack = 320;
constexpr unsigned kOutputBufferSize = 16384; // LZW output staging
constexpr unsigned kOutputSpare = 2048;
constexpr unsigned kPrefixTableSize = 65536;    // 16-bit entries
constexpr unsigned kDistanceBufferSize = 32768; // 16-bit entries
constexpr unsigned kNameSize = 260;             // input and output names, with the zero
constexpr char kPartialSuffix[] = ".~tv";       // the output while it is being made
constexpr unsigned kPartialNameSize = kNameSize + sizeof kPartialSuffix - 1;

// ------------------------------------------------------------ work areas
// Allocated once for the life of the process; their contents belong to the
// file being decoded.

extern uint8_t input_buffer[kInputBlockSize + kInputSpare]; // compressed input
extern uint32_t input_count;                                // valid bytes in input_buffer
extern uint32_t input_pos; // next unread byte; == input_count: block used up
extern uint8_t window_buffer[kWindowSize + kWindowSlack]; // decoded bytes, from its start
extern uint32_t window_fill;                              // decoded bytes waiting to be drained
extern uint8_t output_buffer[kOutputBufferSize + kOutputSpare]; // LZW staging, decoder scratch
extern uint16_t prefix_table[kPrefixTableSize];                 // decoder scratch
extern uint16_t distance_buffer[kDistanceBufferSize];           // decoder scratch
extern int32_t bytes_read_total;    // input bytes read since reset_buffers
extern int32_t bytes_written_total; // bytes produced for the current member

// ------------------------------------------------------------ driver values
// Owned by the driver, set by decompress_file for each file.

extern int32_t exit_status;         // 0 success, 1 error, 2 warning
extern bool quiet_mode;             // warnings are not written (always on)
extern const char* program_name;    // "gzip", first placeholder of diagnostics
extern char input_name[kNameSize];  // the compressed file, as named by the caller
extern char output_name[kNameSize]; // the plain file being made
// The output is written under this name beside output_name and replaces it
// only once complete and checked, so a failure leaves the file it was to
// replace as it was.
extern char partial_name[kPartialNameSize];
extern int input_fd;                           // descriptor of the input, -1 when closed
extern int output_fd;                          // descriptor of the output, -1 when closed
extern bool output_incomplete;                 // partial_name exists and is not complete
extern gunzip_fatal_notice fatal_notice;       // told of a fatal error, or nullptr
extern gunzip_progress_notice progress_notice; // told of each piece written, or nullptr

// ------------------------------------------------------------ input, output, CRC

// Empties the window and the input buffer and zeroes the byte counters.
void reset_buffers();
// Refills input_buffer with up to one block (short reads merged). Returns the
// first byte of the new block, or -1 at end of input when that is allowed;
// otherwise end of input is fatal.
int refill_input(bool eof_ok);
// The next input byte; end of input is fatal ("unexpected end of file").
inline int next_byte() {
    return input_pos < input_count ? input_buffer[input_pos++] : refill_input(false);
}
// The next input byte, or -1 at end of input.
inline int try_next_byte() {
    return input_pos < input_count ? input_buffer[input_pos++] : refill_input(true);
}
// CRC over window_buffer[0, window_fill), written to the output, counted in
// bytes_written_total; the window is then empty (its contents stay).
void drain_window();
// Writes all n bytes or fails fatally.
void write_all(int fd, const void* bytes, unsigned n);
// With bytes == nullptr: resets the CRC register and returns 0. Otherwise
// runs the register over n bytes and returns the finished CRC-32 (n == 0
// reads the CRC so far without changing it).
uint32_t crc32_update(const void* bytes, size_t n);

// ------------------------------------------------------------ diagnostics and abort

[[noreturn]] void fatal_error(const char* text);
[[noreturn]] void report_read_failure();
[[noreturn]] void report_write_failure();
// Deletes an incomplete output (partial_name) and ends the process with exit
// code 1.
[[noreturn]] void abort_decompression();
// Ends the process through the runtime's normal exit (or the installed test
// handler, see gunzip.h).
[[noreturn]] void exit_with_status(int32_t code);
// "name: message\n" for the current runtime error number.
void report_platform_error(const char* name);
// Raises exit_status to 2 if it is still 0; the text is written only when
// quiet_mode is off.
void warn(const char* format, ...);

// ------------------------------------------------------------ decoders
// A member decoder reads the current member from the open input (input_fd,
// through input_buffer and the input operations, or by its own reads) and
// writes to the open output (output_fd, through drain_window or write_all):
// the driver opens both before the first member and closes them after the
// last. 0 success; non-zero failure with exit_status already set. Fatal
// conditions do not return.

using member_decoder = int32_t (*)();

int32_t decode_deflate_member(); // gzip member or PKZIP entry
int decode_deflate_stream();     // raw DEFLATE: 0, 1/2 invalid, 3 no memory
int decode_lzw_stream();         // compress(1), magic 1F 9D
int decode_pack_stream();        // pack(1), magic 1F 1E
int decode_lzh_stream();         // LZH, magic 1F A0

} // namespace gunzip
