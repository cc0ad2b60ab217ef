// Fuzz target: decompress_file on arbitrary file contents, as the updater
// calls it for a received file. Runs in a scratch directory of its own; the
// output written per run is capped through the file layer's syscall table so
// that data expanding to gigabytes cannot fill the disk.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "gunzip/gunzip.h"
#include "gunzip/shared.h"
#include "platform/host/syscalls.h"

using namespace gunzip;

namespace {

constexpr size_t kOutputCap = 4u << 20;
size_t written_this_run;

ssize_t capped_write(int fd, const void* buf, size_t n) {
    if (written_this_run >= kOutputCap)
        return static_cast<ssize_t>(n); // counted as stored, dropped
    written_this_run += n;
    return ::write(fd, buf, n);
}

std::string scratch_path;

void remove_scratch() {
    std::remove((scratch_path + "/f.gz").c_str());
    std::remove((scratch_path + "/f").c_str());
    rmdir(scratch_path.c_str());
}

const std::string& scratch_dir() {
    static std::string dir = [] {
        // In memory where the system offers it: each run creates, writes
        // and removes two files.
        struct stat st;
        const bool shm = ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode);
        char tmpl[] = "/dev/shm/tv-fuzz-driver-XXXXXX";
        char fallback[] = "/tmp/tv-fuzz-driver-XXXXXX";
        char* dir = shm ? tmpl : fallback;
        if (mkdtemp(dir) == nullptr)
            std::abort();
        scratch_path = dir;
        std::atexit(remove_scratch);
        tvhost::syscalls.write = capped_write;
        fuzz::install_exit_handler();
        return std::string(dir);
    }();
    return dir;
}

void write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = scratch_dir() + "/f.gz";
    const std::string out = scratch_dir() + "/f";
    write_file(in, data, size);
    written_this_run = 0;
    bool returned = fuzz::run_guarded([&] {
        int32_t status = decompress_file(in.c_str());
        if (status < 0 || status > 2)
            __builtin_trap();
    });
    if (!returned && input_fd >= 0) {
        // The process would have ended here; the harness closes the input
        // the driver still held.
        crt_close(input_fd);
        input_fd = -1;
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
    return 0;
}
