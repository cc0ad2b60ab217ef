// The encoder's driver: fills the buffer, parses a segment into tokens,
// writes them as blocks and slides the window.
#include "deflate_encoder.h"

#include "block_splitter.h"
#include "block_writer.h"

#include <algorithm>
#include <cstring>

namespace tvserver::deflate {

namespace {

// Input parsed per segment; a match may run this far past the segment's end.
constexpr std::size_t kSegment = 256 * 1024;
constexpr std::size_t kLookahead = kMaxMatch + 8;
constexpr int kOptimalRounds = 6;
constexpr std::size_t kBufferSize = kWindowSize + kSegment + kLookahead;

} // namespace

DeflateEncoder::DeflateEncoder(int level) : m_buf(kBufferSize) {
    static const Params kParams[kBestLevel + 1] = {
        {0, 0, 0, 0},         {4, 0, 8, 4},         {4, 0, 16, 8},        {4, 0, 32, 32},
        {4, 4, 16, 16},       {8, 16, 32, 32},      {16, 64, 192, 512},   {32, 128, 258, 1024},
        {32, 258, 258, 2048}, {32, 258, 258, 4096}, {258, 258, 258, 8192}};
    level = std::clamp(level, kFastestLevel, kBestLevel);
    m_params = kParams[level];
    m_lazy = m_params.lazy > 0;
    m_optimal = level == kBestLevel;
    m_split = level >= kBestLevel ? SplitEffort{1024, 128} : SplitEffort{4096, 512};
}

void DeflateEncoder::Write(const unsigned char* data, std::size_t size,
                           std::vector<unsigned char>& out) {
    while (size > 0) {
        const std::size_t n = std::min(size, m_buf.size() - m_end);
        std::memcpy(m_buf.data() + m_end, data, n);
        m_end += n;
        data += n;
        size -= n;
        if (m_end == m_buf.size()) {
            CompressSegment(false);
            SlideWindow();
        }
    }
    m_bits.Drain(out);
}

void DeflateEncoder::Finish(std::vector<unsigned char>& out) {
    if (m_pos < m_end)
        CompressSegment(true);
    else
        WriteEmptyFinalBlock(m_bits);
    m_bits.Align();
    m_bits.Drain(out);
}

void DeflateEncoder::InsertUpTo(std::size_t end) {
    // The last two bytes of the stream start no three-byte string.
    const std::size_t limit = std::min(end, m_end >= 2 ? m_end - 2 : 0);
    for (; m_inserted < limit; ++m_inserted)
        m_matches.Insert(m_buf.data(), static_cast<std::uint32_t>(m_inserted));
    m_inserted = std::max(m_inserted, end);
}

void DeflateEncoder::Parse(std::size_t limit) {
    const unsigned char* buf = m_buf.data();
    // Lazy evaluation: a match found at pendingPos is held back while the
    // next position is searched for a longer one.
    Match pending;
    std::size_t pendingPos = 0;
    while (m_pos < limit) {
        InsertUpTo(m_pos);
        const auto pos = static_cast<std::uint32_t>(m_pos);
        const auto maxLength =
            static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, m_end - m_pos));
        if (pending.length == 0) {
            const Match m =
                m_matches.Longest(buf, pos, maxLength, m_params.chain, m_params.nice, 0);
            if (m.length == 0) {
                PushLiteral(buf[m_pos++]);
            } else if (!m_lazy || m.length >= m_params.lazy) {
                PushMatch(m);
                m_pos += m.length;
            } else {
                pending = m;
                pendingPos = m_pos++;
            }
            continue;
        }
        const unsigned chain =
            pending.length >= m_params.good ? std::max(1u, m_params.chain / 4) : m_params.chain;
        const Match m =
            m_matches.Longest(buf, pos, maxLength, chain, m_params.nice, pending.length);
        if (m.length > pending.length) {
            PushLiteral(buf[pendingPos]);
            if (m.length >= m_params.lazy) {
                PushMatch(m);
                m_pos += m.length;
                pending = Match();
            } else {
                pending = m;
                pendingPos = m_pos++;
            }
            continue;
        }
        PushMatch(pending);
        m_pos = pendingPos + pending.length;
        pending = Match();
    }
    if (pending.length > 0) {
        PushMatch(pending);
        m_pos = pendingPos + pending.length;
    }
}

void DeflateEncoder::ParseOptimal(std::size_t limit) {
    const unsigned char* buf = m_buf.data();
    std::uint16_t distOf[kMaxMatch + 1];
    m_optimalParser.Begin(m_pos);
    for (std::size_t p = m_pos; p < limit; ++p) {
        InsertUpTo(p);
        // Matches end at the segment's end, where the parse must end too.
        const auto room = static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, limit - p));
        const unsigned longest =
            m_matches.AllLengths(buf, static_cast<std::uint32_t>(p), room, m_params.chain, distOf);
        m_optimalParser.AddPosition(distOf, longest);
    }
    m_tokens = m_optimalParser.Parse(buf, kOptimalRounds, m_split);
    m_pos = limit;
}

void DeflateEncoder::CompressSegment(bool final) {
    const std::size_t start = m_pos;
    const std::size_t limit = final ? m_end : m_end - kLookahead;
    m_tokens.clear();
    if (m_optimal)
        ParseOptimal(limit);
    else
        Parse(limit);
    const std::vector<std::size_t> ends = SplitBlocks(m_tokens.data(), m_tokens.size(), m_split);
    std::size_t first = 0, raw = start;
    for (std::size_t end : ends) {
        std::size_t span = 0;
        for (std::size_t i = first; i < end; ++i)
            span += m_tokens[i].Span();
        WriteBlock(m_bits, m_tokens.data() + first, end - first, m_buf.data() + raw, span,
                   final && end == ends.back());
        first = end;
        raw += span;
    }
}

void DeflateEncoder::SlideWindow() {
    const std::size_t keepFrom = m_pos > kWindowSize ? m_pos - kWindowSize : 0;
    if (keepFrom == 0)
        return;
    std::memmove(m_buf.data(), m_buf.data() + keepFrom, m_end - keepFrom);
    m_end -= keepFrom;
    m_pos -= keepFrom;
    m_inserted -= keepFrom;
    m_matches.Slide(static_cast<std::uint32_t>(keepFrom));
}

} // namespace tvserver::deflate
