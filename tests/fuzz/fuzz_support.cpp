// Harness plumbing shared by the fuzz targets (see fuzz_support.h).
//
// The member decoders read and write only through the C runtime's file layer,
// which goes through the host's system-call table. The harness takes over the
// table's read and write for two descriptors of its own: the input is served
// from memory (no file to truncate and fill per run) and the output is
// counted, not written. Every other descriptor reaches the real calls.

#include "fuzz_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "gunzip/gunzip.h"
#include "gunzip/shared.h"
#include "platform/host/syscalls.h"

using namespace gunzip;

namespace {

[[noreturn]] void throw_aborted(int32_t code) {
    throw fuzz::Aborted{code};
}

// The output a run may produce before its writes fail as on a full disk.
// Without a bound, a few hundred bytes of LZH or pack input expand to
// megabytes, and the fuzzer spends its time decoding the same filler. Twice
// the 64 KB window buffer: every decoder's window, dictionary and output
// piece wraps at least once before the cap.
constexpr size_t kOutputCap = size_t{1} << 17;

struct MemoryStreams {
    int input_fd = -1;  // a descriptor only the harness's read answers
    int output_fd = -1; // a descriptor only the harness's write answers
    std::vector<uint8_t> input;
    size_t input_pos = 0;
    size_t output_count = 0;
    ssize_t (*real_read)(int, void*, size_t) = nullptr;
    ssize_t (*real_write)(int, const void*, size_t) = nullptr;
};

MemoryStreams streams;

ssize_t memory_read(int fd, void* buf, size_t n) {
    if (fd != streams.input_fd)
        return streams.real_read(fd, buf, n);
    const size_t left = streams.input.size() - streams.input_pos;
    const size_t take = std::min(n, left);
    if (take > 0)
        std::memcpy(buf, streams.input.data() + streams.input_pos, take);
    streams.input_pos += take;
    return static_cast<ssize_t>(take);
}

ssize_t counting_write(int fd, const void* buf, size_t n) {
    if (fd != streams.output_fd)
        return streams.real_write(fd, buf, n);
    if (streams.output_count + n > kOutputCap) {
        errno = ENOSPC;
        return -1;
    }
    streams.output_count += n;
    return static_cast<ssize_t>(n);
}

// Both descriptors are real (/dev/null), so nothing else in the process is
// handed the same numbers, but no call on them reaches the system.
void take_over_streams() {
    if (streams.input_fd >= 0)
        return;
    streams.input_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    streams.output_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (streams.input_fd < 0 || streams.output_fd < 0)
        std::abort();
    streams.real_read = tvhost::syscalls.read;
    streams.real_write = tvhost::syscalls.write;
    tvhost::syscalls.read = memory_read;
    tvhost::syscalls.write = counting_write;
    fuzz::install_exit_handler();
}

} // namespace

void fuzz::install_exit_handler() {
    set_gunzip_exit_handler(throw_aborted);
}

int fuzz::start_member(const uint8_t magic[2], const uint8_t* data, size_t size) {
    take_over_streams();
    streams.input.assign(magic, magic + 2);
    streams.input.insert(streams.input.end(), data, data + size);
    streams.input_pos = 0;
    streams.output_count = 0;
    program_name = "gzip";
    std::snprintf(input_name, sizeof input_name, "fuzz.gz");
    std::snprintf(output_name, sizeof output_name, "fuzz");
    quiet_mode = true;
    exit_status = 0;
    output_incomplete = false;
    input_fd = streams.input_fd;
    output_fd = streams.output_fd;
    reset_buffers();
    crc32_update(nullptr, 0);
    next_byte();
    next_byte();
    return streams.input_fd;
}
