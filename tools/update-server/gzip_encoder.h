// The reference server's gzip encoder: one gzip member per file, DEFLATE
// with dynamic Huffman blocks, CRC-32 and length. It is independent of the
// client's decompressor on purpose, so that each checks the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tvserver {

// Levels as gzip users know them: 1 fastest, 9 smallest of the usual ones;
// kGzipBestLevel is slower still and smaller again.
constexpr int kGzipFastestLevel = 1;
constexpr int kGzipDefaultLevel = 6;
constexpr int kGzipBestLevel = 10;

std::uint32_t Crc32(const unsigned char* data, std::size_t size, std::uint32_t crc = 0);

// The gzip member for data at the default level, without a name; mtime is
// the original file's modification time (seconds since 1970, 0 for none).
// The same input always gives the same bytes.
std::vector<unsigned char> GzipEncode(const unsigned char* data, std::size_t size,
                                      std::uint32_t mtime);

// Compresses the file inPath into a gzip member at outPath (created or
// truncated), reading and writing in pieces: memory stays bounded whatever
// the file's size. name (stored as the original file name; empty for none,
// no NUL byte) and mtime go into the header. On failure returns false with
// a message in error and removes what it wrote of outPath.
bool GzipCompressFile(const std::string& inPath, const std::string& outPath, int level,
                      const std::string& name, std::uint32_t mtime, std::string& error);

} // namespace tvserver
