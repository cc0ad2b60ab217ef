// LSB-first bit packing into a byte buffer that the owner drains.
#pragma once

#include <cstdint>
#include <vector>

namespace tvserver::deflate {

class BitWriter {
  public:
    // bits holds count (0-32) bits, least significant first; Huffman codes
    // are stored already bit-reversed so they go through here too.
    void Put(std::uint32_t bits, int count) {
        m_acc |= static_cast<std::uint64_t>(bits) << m_count;
        m_count += count;
        if (m_count >= 32) {
            for (int i = 0; i < 4; ++i)
                m_bytes.push_back(static_cast<unsigned char>(m_acc >> (8 * i)));
            m_acc >>= 32;
            m_count -= 32;
        }
    }
    // Pads with zero bits to the next byte boundary.
    void Align() {
        while (m_count > 0) {
            m_bytes.push_back(static_cast<unsigned char>(m_acc));
            m_acc >>= 8;
            m_count = m_count > 8 ? m_count - 8 : 0;
        }
        m_acc = 0;
    }
    // Whole bytes only: the caller aligns first.
    void PutBytes(const unsigned char* data, std::size_t size) {
        m_bytes.insert(m_bytes.end(), data, data + size);
    }
    // Bits written so far modulo 8 (where a stored block's padding ends).
    int PendingBits() const { return m_count & 7; }
    // Moves the completed bytes to out (the pending bits stay).
    void Drain(std::vector<unsigned char>& out) {
        out.insert(out.end(), m_bytes.begin(), m_bytes.end());
        m_bytes.clear();
    }
    std::vector<unsigned char>& Bytes() { return m_bytes; }

  private:
    std::vector<unsigned char> m_bytes;
    std::uint64_t m_acc = 0;
    int m_count = 0;
};

} // namespace tvserver::deflate
