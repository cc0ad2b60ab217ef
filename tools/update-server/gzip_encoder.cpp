// gzip members around the DEFLATE encoder: header, CRC-32, length.
#include "gzip_encoder.h"

#include "deflate/deflate_encoder.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace tvserver {

static_assert(kGzipBestLevel == deflate::kBestLevel && kGzipDefaultLevel == deflate::kDefaultLevel);

namespace {

constexpr unsigned char kFlagName = 0x08;

// Slicing by eight: table k gives the CRC of a byte followed by k zero bytes.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

const CrcTables& Tables() {
    static const CrcTables tables = [] {
        CrcTables t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (std::uint32_t n = 0; n < 256; ++n)
            for (int k = 1; k < 8; ++k)
                t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
        return t;
    }();
    return tables;
}

void PutU32(std::vector<unsigned char>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::vector<unsigned char> Header(int level, const std::string& name, std::uint32_t mtime) {
    std::vector<unsigned char> h = {0x1F, 0x8B, 8,
                                    static_cast<unsigned char>(name.empty() ? 0 : kFlagName)};
    PutU32(h, mtime);
    // Extra flags: 2 for the slowest levels, 4 for the fastest.
    h.push_back(level >= 9 ? 2 : level <= 1 ? 4 : 0);
    h.push_back(255); // operating system: unknown
    if (!name.empty()) {
        h.insert(h.end(), name.begin(), name.end());
        h.push_back(0);
    }
    return h;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Why(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(std::FILE* f, std::vector<unsigned char>& bytes) {
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    bytes.clear();
    return ok;
}

bool Compress(std::FILE* in, std::FILE* out, int level, const std::string& name,
              std::uint32_t mtime, const std::string& inPath, const std::string& outPath,
              std::string& error) {
    std::vector<unsigned char> pending = Header(level, name, mtime);
    deflate::DeflateEncoder encoder(level);
    std::vector<unsigned char> chunk(1 << 16);
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), in);
        if (n == 0 && std::ferror(in)) {
            error = Why("cannot read", inPath);
            return false;
        }
        if (n == 0)
            break;
        crc = Crc32(chunk.data(), n, crc);
        size += n;
        encoder.Write(chunk.data(), n, pending);
        if (!WriteAll(out, pending)) {
            error = Why("cannot write", outPath);
            return false;
        }
    }
    encoder.Finish(pending);
    PutU32(pending, crc);
    PutU32(pending, static_cast<std::uint32_t>(size));
    if (!WriteAll(out, pending) || std::fflush(out) != 0) {
        error = Why("cannot write", outPath);
        return false;
    }
    return true;
}

} // namespace

std::uint32_t Crc32(const unsigned char* data, std::size_t size, std::uint32_t crc) {
    const CrcTables& t = Tables();
    crc = ~crc;
    for (; size >= 8; size -= 8, data += 8) {
        const std::uint32_t lo =
            crc ^
            (static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
             static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24);
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
    }
    for (; size > 0; --size)
        crc = t[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<unsigned char> GzipEncode(const unsigned char* data, std::size_t size,
                                      std::uint32_t mtime) {
    std::vector<unsigned char> out = Header(kGzipDefaultLevel, std::string(), mtime);
    deflate::DeflateEncoder encoder(kGzipDefaultLevel);
    encoder.Write(data, size, out);
    encoder.Finish(out);
    PutU32(out, Crc32(data, size));
    PutU32(out, static_cast<std::uint32_t>(size));
    return out;
}

bool GzipCompressFile(const std::string& inPath, const std::string& outPath, int level,
                      const std::string& name, std::uint32_t mtime, std::string& error) {
    if (level < kGzipFastestLevel || level > kGzipBestLevel) {
        error = "compression level " + std::to_string(level) + " is not between " +
                std::to_string(kGzipFastestLevel) + " and " + std::to_string(kGzipBestLevel);
        return false;
    }
    if (name.find('\0') != std::string::npos) {
        error = "a stored file name cannot hold a NUL byte";
        return false;
    }
    File in(std::fopen(inPath.c_str(), "rb"));
    if (!in) {
        error = Why("cannot open", inPath);
        return false;
    }
    File out(std::fopen(outPath.c_str(), "wb"));
    if (!out) {
        error = Why("cannot create", outPath);
        return false;
    }
    // Only a regular file is ours to remove on failure (not /dev/stdout, say).
    struct stat st {};
    const bool regular = ::fstat(::fileno(out.get()), &st) == 0 && S_ISREG(st.st_mode);
    bool ok = Compress(in.get(), out.get(), level, name, mtime, inPath, outPath, error);
    if (std::fclose(out.release()) != 0 && ok) {
        error = Why("cannot write", outPath);
        ok = false;
    }
    if (!ok && regular)
        std::remove(outPath.c_str());
    return ok;
}

} // namespace tvserver
