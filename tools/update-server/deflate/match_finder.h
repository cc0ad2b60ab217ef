// Hash chains over the sliding window: the candidates for a match at a
// position are earlier positions whose next three bytes hash alike, newest
// first.
#pragma once

#include <cstdint>
#include <vector>

namespace tvserver::deflate {

struct Match {
    unsigned length = 0; // 0: none of at least kMinMatch
    unsigned dist = 0;
};

class MatchFinder {
  public:
    MatchFinder();

    // Adds pos (of buf, with at least three bytes from pos) to its chain.
    void Insert(const unsigned char* buf, std::uint32_t pos) {
        const std::uint32_t h = Hash(buf + pos);
        m_prev[pos & kPrevMask] = m_head[h];
        m_head[h] = pos;
    }

    // The longest match for pos among up to chainLimit candidates, at most
    // maxLength long; the search stops early at niceLength. Only matches
    // longer than minLength are reported.
    Match Longest(const unsigned char* buf, std::uint32_t pos, unsigned maxLength,
                  unsigned chainLimit, unsigned niceLength, unsigned minLength) const;

    // For every length from kMinMatch to the longest found, the smallest
    // distance giving at least that length (distOf[len]); returns the
    // longest length (0 if none).
    unsigned AllLengths(const unsigned char* buf, std::uint32_t pos, unsigned maxLength,
                        unsigned chainLimit, std::uint16_t* distOf) const;

    // The buffer moved down by delta bytes: positions below it are gone.
    void Slide(std::uint32_t delta);

  private:
    static constexpr int kHashBits = 16;
    static constexpr std::uint32_t kPrevMask = 65535; // twice the window: no aliasing
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    static std::uint32_t Hash(const unsigned char* p) {
        const std::uint32_t v = static_cast<std::uint32_t>(p[0]) |
                                static_cast<std::uint32_t>(p[1]) << 8 |
                                static_cast<std::uint32_t>(p[2]) << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    std::vector<std::uint32_t> m_head;
    std::vector<std::uint32_t> m_prev;
};

} // namespace tvserver::deflate
