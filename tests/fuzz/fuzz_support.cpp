// Harness plumbing shared by the fuzz targets (see fuzz_support.h).

#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "gunzip/gunzip.h"
#include "gunzip/shared.h"

using namespace gunzip;

namespace {

[[noreturn]] void throw_aborted(int32_t code) {
    throw fuzz::Aborted{code};
}

int memory_file() {
    static int fd = -1;
    if (fd < 0) {
        fd = memfd_create("fuzz-input", MFD_CLOEXEC);
        if (fd < 0)
            std::abort();
        fuzz::install_exit_handler();
    }
    return fd;
}

} // namespace

void fuzz::install_exit_handler() {
    set_gunzip_exit_handler(throw_aborted);
}

namespace {

int null_output() {
    static int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    return fd;
}

void put_file(int fd, const uint8_t* data, size_t size) {
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
        std::abort();
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0)
            std::abort();
        data += n;
        size -= static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
}

} // namespace

int fuzz::start_member(const uint8_t magic[2], const uint8_t* data, size_t size) {
    int fd = memory_file();
    put_file(fd, magic, 2);
    if (size > 0 && pwrite(fd, data, size, 2) != static_cast<ssize_t>(size))
        std::abort();
    program_name = "gzip";
    std::snprintf(input_name, sizeof input_name, "fuzz.gz");
    std::snprintf(output_name, sizeof output_name, "fuzz");
    quiet_mode = true;
    exit_status = 0;
    output_incomplete = false;
    input_fd = fd;
    output_fd = null_output();
    reset_buffers();
    crc32_update(nullptr, 0);
    next_byte();
    next_byte();
    return fd;
}
