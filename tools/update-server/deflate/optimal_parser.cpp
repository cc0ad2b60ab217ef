// Shortest path over positions: an edge is a literal or a match of any
// length from 3 up to a candidate's longest, priced in bits by a cost model.
// The first round prices by the fixed Huffman code; each later one by the
// symbol entropy of the previous round's blocks, each block on its own.
#include "optimal_parser.h"

#include "block_writer.h"
#include "log2_fixed.h"

#include <algorithm>

namespace tvserver::deflate {

// Costs in 1/256 bits.
constexpr int kCostShift = 8;

struct OptimalParser::CostModel {
    std::uint32_t lit[256];
    std::uint32_t length[kMaxMatch + 1]; // symbol and extra bits
    std::uint32_t dist[kDistSymbols];    // symbol and extra bits

    static CostModel Fixed() {
        CostModel m;
        for (int s = 0; s < 256; ++s)
            m.lit[s] = (s < 144 ? 8u : 9u) << kCostShift;
        for (unsigned l = kMinMatch; l <= kMaxMatch; ++l) {
            const int lc = LengthCode(l);
            m.length[l] = static_cast<std::uint32_t>((257 + lc < 280 ? 7 : 8) + kLengthExtra[lc])
                          << kCostShift;
        }
        for (int d = 0; d < kDistSymbols; ++d)
            m.dist[d] = static_cast<std::uint32_t>(5 + kDistExtra[d]) << kCostShift;
        return m;
    }

    // Entropy of each symbol in h; an unused one costs as if it had half an
    // occurrence.
    static CostModel From(const Histogram& h) {
        CostModel m;
        std::uint32_t litTotal = 0, distTotal = 0;
        for (std::uint32_t f : h.lit)
            litTotal += f;
        for (std::uint32_t f : h.dist)
            distTotal += f;
        const auto bits = [](std::uint32_t total, std::uint32_t f) {
            const std::uint32_t whole = Log2Fixed(total) + (1u << kLog2Shift);
            return (whole - Log2Fixed(2 * f + (f == 0))) >> (kLog2Shift - kCostShift);
        };
        std::uint32_t symbol[kLitLenSymbols];
        for (int s = 0; s < kLitLenSymbols; ++s)
            symbol[s] = bits(litTotal, h.lit[s]);
        std::copy(symbol, symbol + 256, m.lit);
        for (unsigned l = kMinMatch; l <= kMaxMatch; ++l) {
            const int lc = LengthCode(l);
            m.length[l] =
                symbol[257 + lc] + (static_cast<std::uint32_t>(kLengthExtra[lc]) << kCostShift);
        }
        for (int d = 0; d < kDistSymbols; ++d)
            m.dist[d] = (distTotal > 0 ? bits(distTotal, h.dist[d]) : 5u << kCostShift) +
                        (static_cast<std::uint32_t>(kDistExtra[d]) << kCostShift);
        return m;
    }
};

void OptimalParser::Begin(std::size_t start) {
    m_start = start;
    m_first.assign(1, 0);
    m_candidates.clear();
}

void OptimalParser::AddPosition(const std::uint16_t* distOf, unsigned longest) {
    for (unsigned l = kMinMatch; l <= longest; ++l)
        if (l == longest || distOf[l + 1] != distOf[l])
            m_candidates.push_back({static_cast<std::uint16_t>(l), distOf[l]});
    m_first.push_back(static_cast<std::uint32_t>(m_candidates.size()));
}

std::vector<Token> OptimalParser::PathThrough(const unsigned char* buf, std::size_t from,
                                              std::size_t to, const CostModel& model) {
    const std::size_t n = to - from;
    m_cost.assign(n + 1, UINT32_MAX);
    m_step.assign(n + 1, Candidate{0, 0});
    m_cost[0] = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t here = m_cost[i];
        const std::size_t pos = from + i;
        const std::uint32_t lit = here + model.lit[buf[pos]];
        if (lit < m_cost[i + 1]) {
            m_cost[i + 1] = lit;
            m_step[i + 1] = {1, 0};
        }
        const std::size_t k0 = m_first[pos - m_start], k1 = m_first[pos - m_start + 1];
        const unsigned room = static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, n - i));
        unsigned shortest = kMinMatch;
        for (std::size_t k = k0; k < k1 && shortest <= room; ++k) {
            const Candidate c = m_candidates[k];
            const unsigned longest = std::min<unsigned>(c.length, room);
            const std::uint32_t base = here + model.dist[DistCode(c.dist)];
            // Inside a long repeat (the nearest candidate already as long as a
            // match can be) only the whole length is tried: every shorter
            // one there costs much time and gains next to nothing.
            const unsigned lo = k == k0 && longest == kMaxMatch ? kMaxMatch : shortest;
            for (unsigned l = lo; l <= longest; ++l) {
                const std::uint32_t cost = base + model.length[l];
                if (cost < m_cost[i + l]) {
                    m_cost[i + l] = cost;
                    m_step[i + l] = {static_cast<std::uint16_t>(l), c.dist};
                }
            }
            shortest = longest + 1;
        }
    }
    std::vector<Token> tokens;
    for (std::size_t i = n; i > 0;) {
        const Candidate s = m_step[i];
        if (s.dist == 0) {
            tokens.push_back({buf[from + i - 1], 0});
            --i;
        } else {
            tokens.push_back({s.length, s.dist});
            i -= s.length;
        }
    }
    std::reverse(tokens.begin(), tokens.end());
    return tokens;
}

namespace {

// Exact size of tokens as the encoder would write them.
std::size_t MeasureBits(const std::vector<Token>& tokens, const SplitEffort& split) {
    const std::vector<std::size_t> ends = SplitBlocks(tokens.data(), tokens.size(), split);
    std::size_t bits = 0, first = 0;
    for (std::size_t end : ends) {
        std::size_t raw = 0;
        for (std::size_t i = first; i < end; ++i)
            raw += tokens[i].Span();
        bits += BlockBits(Histogram(tokens.data() + first, end - first), raw, 0);
        first = end;
    }
    return bits;
}

} // namespace

std::vector<Token> OptimalParser::RoundOn(const unsigned char* buf,
                                          const std::vector<Token>& previous,
                                          const SplitEffort& split) {
    std::vector<Token> tokens;
    const std::vector<std::size_t> ends = SplitBlocks(previous.data(), previous.size(), split);
    std::size_t first = 0, pos = m_start;
    for (std::size_t end : ends) {
        std::size_t raw = 0;
        for (std::size_t i = first; i < end; ++i)
            raw += previous[i].Span();
        const Histogram h(previous.data() + first, end - first);
        const std::vector<Token> part = PathThrough(buf, pos, pos + raw, CostModel::From(h));
        tokens.insert(tokens.end(), part.begin(), part.end());
        first = end;
        pos += raw;
    }
    return tokens;
}

std::vector<Token> OptimalParser::Parse(const unsigned char* buf, int rounds,
                                        const SplitEffort& split) {
    const std::size_t end = m_start + m_first.size() - 1;
    std::vector<Token> tokens = PathThrough(buf, m_start, end, CostModel::Fixed());
    std::vector<Token> best = tokens;
    std::size_t bestBits = MeasureBits(tokens, split);
    for (int r = 0; r < rounds; ++r) {
        tokens = RoundOn(buf, tokens, split);
        const std::size_t bits = MeasureBits(tokens, split);
        if (bits < bestBits) {
            bestBits = bits;
            best = tokens;
        }
    }
    return best;
}

} // namespace tvserver::deflate
