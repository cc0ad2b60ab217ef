// SHA-256, for naming cache entries by their content. A publish reads every
// file once through it, so it streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tvserver {

class Sha256 {
  public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

  private:
    void Block(const unsigned char* p);

    std::uint32_t m_h[8];
    unsigned char m_buf[64];
    std::size_t m_held = 0;    // bytes in m_buf
    std::uint64_t m_total = 0; // bytes hashed
};

// The digest of a whole file, read in pieces; false with a message in error.
bool Sha256File(const std::string& path, std::string& hex, std::string& error);

} // namespace tvserver
