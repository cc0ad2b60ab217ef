// Chain walking. Every candidate's bytes are compared, so a stale chain link
// costs time but never a wrong match.
#include "match_finder.h"

#include "tables.h"

#include <cstring>

namespace tvserver::deflate {

namespace {

constexpr std::uint32_t kFarShortMatch = 4096;

// Bytes that agree at a and b, up to limit.
unsigned CommonLength(const unsigned char* a, const unsigned char* b, unsigned limit) {
    unsigned n = 0;
    while (n + 8 <= limit) {
        std::uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
            return n + static_cast<unsigned>(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

} // namespace

MatchFinder::MatchFinder() : m_head(1u << kHashBits, kNone), m_prev(kPrevMask + 1, kNone) {}

Match MatchFinder::Longest(const unsigned char* buf, std::uint32_t pos, unsigned maxLength,
                           unsigned chainLimit, unsigned niceLength, unsigned minLength) const {
    Match best;
    unsigned bestLength = minLength < kMinMatch - 1 ? kMinMatch - 1 : minLength;
    if (maxLength < kMinMatch || bestLength >= maxLength)
        return best;
    if (niceLength > maxLength)
        niceLength = maxLength;
    const unsigned char* here = buf + pos;
    std::uint32_t cand = m_head[Hash(here)];
    for (unsigned chain = 0; chain < chainLimit && cand != kNone && cand < pos; ++chain) {
        const std::uint32_t dist = pos - cand;
        if (dist > kWindowSize)
            break;
        const unsigned char* there = buf + cand;
        // The byte that would make this candidate longer than the best.
        if (there[bestLength] == here[bestLength] && there[0] == here[0]) {
            const unsigned len = CommonLength(here, there, maxLength);
            // A three-byte match far back costs about as much as three
            // literals and blocks a better parse.
            if (len > bestLength && (len > kMinMatch || dist <= kFarShortMatch)) {
                bestLength = len;
                best.length = len;
                best.dist = dist;
                if (len >= niceLength)
                    break;
            }
        }
        const std::uint32_t next = m_prev[cand & kPrevMask];
        if (next >= cand)
            break; // the link was overwritten by a newer position
        cand = next;
    }
    return best;
}

unsigned MatchFinder::AllLengths(const unsigned char* buf, std::uint32_t pos, unsigned maxLength,
                                 unsigned chainLimit, std::uint16_t* distOf) const {
    unsigned bestLength = kMinMatch - 1;
    if (maxLength < kMinMatch)
        return 0;
    const unsigned char* here = buf + pos;
    std::uint32_t cand = m_head[Hash(here)];
    for (unsigned chain = 0; chain < chainLimit && cand != kNone && cand < pos; ++chain) {
        const std::uint32_t dist = pos - cand;
        if (dist > kWindowSize)
            break;
        const unsigned char* there = buf + cand;
        if (there[bestLength] == here[bestLength]) {
            const unsigned len = CommonLength(here, there, maxLength);
            // Candidates come newest first, so each length keeps its
            // smallest distance.
            for (unsigned l = bestLength + 1; l <= len; ++l)
                distOf[l] = static_cast<std::uint16_t>(dist);
            if (len > bestLength) {
                bestLength = len;
                if (len == maxLength)
                    break;
            }
        }
        const std::uint32_t next = m_prev[cand & kPrevMask];
        if (next >= cand)
            break;
        cand = next;
    }
    return bestLength >= kMinMatch ? bestLength : 0;
}

void MatchFinder::Slide(std::uint32_t delta) {
    for (std::uint32_t& v : m_head)
        v = (v == kNone || v < delta) ? kNone : v - delta;
    for (std::uint32_t& v : m_prev)
        v = (v == kNone || v < delta) ? kNone : v - delta;
}

} // namespace tvserver::deflate
