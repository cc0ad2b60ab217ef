// A small gzip encoder for the reference update server: one gzip member per
// file, DEFLATE with fixed-Huffman or stored blocks, CRC-32 and length. It is
// independent of the client's decompressor on purpose, so that each checks
// the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvserver {

std::uint32_t Crc32(const unsigned char* data, std::size_t size, std::uint32_t crc = 0);

// The gzip member for data; mtime is the original file's modification time
// (seconds since 1970, 0 for none). The same input always gives the same
// bytes.
std::vector<unsigned char> GzipEncode(const unsigned char* data, std::size_t size,
                                      std::uint32_t mtime);

} // namespace tvserver
