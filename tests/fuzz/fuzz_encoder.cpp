// Fuzz target: the update server's encoder against the client's DEFLATE
// decoder. Input: a level byte, a piece-size byte (how the encoder is fed),
// then the data. Whatever the data, the stream must decode to it exactly,
// with the CRC-32 the encoder computes.

#include "deflate/deflate_encoder.h"
#include "fuzz_support.h"
#include "gunzip/shared.h"
#include "gzip_encoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace gunzip;

namespace {

int output_file() {
    static const int fd = memfd_create("fuzz-output", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
        std::abort();
    return fd;
}

std::vector<uint8_t> read_back(int fd, size_t expected) {
    std::vector<uint8_t> got(expected + 1);
    const ssize_t n = pread(fd, got.data(), got.size(), 0);
    got.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return got;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const int level = 1 + data[0] % tvserver::kGzipBestLevel;
    const size_t piece = data[1] == 0 ? size : 1 + data[1] * 97u;
    data += 2;
    size -= 2;

    tvserver::deflate::DeflateEncoder encoder(level);
    std::vector<uint8_t> stream;
    for (size_t done = 0; done < size; done += piece)
        encoder.Write(data + done, std::min(piece, size - done), stream);
    encoder.Finish(stream);
    // The trailer, as in a gzip member: the decoder reads ahead into it.
    const uint32_t crc = tvserver::Crc32(data, size);
    for (int i = 0; i < 8; ++i)
        stream.push_back(static_cast<uint8_t>((i < 4 ? crc : size) >> (8 * (i % 4))));

    static const uint8_t kMagic[2] = {0x1F, 0x8B};
    const int out = output_file();
    const bool finished = fuzz::run_guarded([&] {
        fuzz::start_member(kMagic, stream.data(), stream.size());
        output_fd = out;
        if (decode_deflate_stream() != 0)
            __builtin_trap(); // the encoder made a stream the client refuses
    });
    if (!finished)
        __builtin_trap();
    const std::vector<uint8_t> got = read_back(out, size);
    if (got.size() != size || (size > 0 && std::memcmp(got.data(), data, size) != 0))
        __builtin_trap();
    if (crc32_update(got.data(), 0) != crc)
        __builtin_trap();
    return 0;
}
