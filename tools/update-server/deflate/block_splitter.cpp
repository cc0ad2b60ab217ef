// Splitting by dynamic programming over candidate boundaries: the cheapest
// sequence of blocks by an estimate of each block's size (entropy of its
// symbols plus a header that grows with the symbols used), then every chosen
// boundary is moved to its locally best place at a finer step. The estimate
// keeps this cheap enough to run at every level; the block writer then
// picks each block's type exactly.
#include "block_splitter.h"

#include "log2_fixed.h"

#include <algorithm>
#include <cstdint>

namespace tvserver::deflate {

namespace {

constexpr int kSymbols = kLitLenSymbols + kDistSymbols;

// Running totals of symbol counts, raw bytes and extra bits at chosen token
// indices, so that any range's counts are one subtraction away.
class Prefix {
  public:
    Prefix(const Token* tokens, std::size_t count, std::size_t step) {
        const std::size_t marks = count / step + 2;
        m_counts.assign(marks * kSymbols, 0);
        m_raw.assign(marks, 0);
        m_extra.assign(marks, 0);
        std::vector<std::uint32_t> running(kSymbols, 0);
        std::size_t raw = 0, extra = 0;
        for (std::size_t i = 0, mark = 0; i <= count; ++i) {
            if (i % step == 0 || i == count) {
                std::copy(running.begin(), running.end(), m_counts.begin() + mark * kSymbols);
                m_raw[mark] = raw;
                m_extra[mark] = extra;
                m_index.push_back(i);
                ++mark;
            }
            if (i == count)
                break;
            const Token& t = tokens[i];
            raw += t.Span();
            if (t.IsLiteral()) {
                ++running[t.litOrLength];
            } else {
                const int lc = LengthCode(t.litOrLength);
                const int dc = DistCode(t.dist);
                ++running[257 + lc];
                ++running[kLitLenSymbols + dc];
                extra += kLengthExtra[lc] + kDistExtra[dc];
            }
        }
    }

    std::size_t Marks() const { return m_index.size(); }
    std::size_t Index(std::size_t mark) const { return m_index[mark]; }

    // Estimated size of a block over tokens [Index(a), Index(b)), in
    // 1/65536 bits.
    std::uint64_t Cost(std::size_t a, std::size_t b) const {
        const std::uint32_t* lo = &m_counts[a * kSymbols];
        const std::uint32_t* hi = &m_counts[b * kSymbols];
        std::uint64_t bits = 0, used = 1; // the end-of-block code
        const auto entropy = [&](int from, int to, std::uint32_t total) {
            std::uint64_t sum = 0;
            for (int s = from; s < to; ++s) {
                const std::uint32_t f = hi[s] - lo[s];
                if (f > 0) {
                    total += f;
                    sum += static_cast<std::uint64_t>(f) * Log2Fixed(f);
                    ++used;
                }
            }
            return total == 0 ? 0 : static_cast<std::uint64_t>(total) * Log2Fixed(total) - sum;
        };
        bits += entropy(0, kLitLenSymbols, 1);
        bits += entropy(kLitLenSymbols, kSymbols, 0);
        // The header: a fixed part and about 3.5 bits per code length sent.
        bits += (70 + (m_extra[b] - m_extra[a])) << kLog2Shift;
        bits += used * (7u << kLog2Shift) / 2;
        const std::uint64_t stored = (8 * (m_raw[b] - m_raw[a]) + 40) << kLog2Shift;
        return std::min(bits, stored);
    }

  private:
    std::vector<std::uint32_t> m_counts;
    std::vector<std::size_t> m_raw;
    std::vector<std::size_t> m_extra;
    std::vector<std::size_t> m_index;
};

// The cheapest chain of blocks over all marks; returns the marks ending each.
std::vector<std::size_t> BestChain(const Prefix& p) {
    const std::size_t n = p.Marks();
    std::vector<std::uint64_t> best(n, UINT64_MAX);
    std::vector<std::size_t> from(n, 0);
    best[0] = 0;
    for (std::size_t j = 1; j < n; ++j)
        for (std::size_t i = 0; i < j; ++i) {
            const std::uint64_t c = best[i] + p.Cost(i, j);
            if (c < best[j]) {
                best[j] = c;
                from[j] = i;
            }
        }
    std::vector<std::size_t> ends;
    for (std::size_t j = n - 1; j > 0; j = from[j])
        ends.push_back(j);
    std::reverse(ends.begin(), ends.end());
    return ends;
}

} // namespace

std::vector<std::size_t> SplitBlocks(const Token* tokens, std::size_t count,
                                     const SplitEffort& effort) {
    if (count <= effort.step)
        return {count};
    const Prefix coarse(tokens, count, effort.step);
    std::vector<std::size_t> ends;
    for (std::size_t mark : BestChain(coarse))
        ends.push_back(coarse.Index(mark));
    if (ends.size() < 2 || effort.refine >= effort.step)
        return ends;
    // Each inner boundary moves within half a step either way to where the
    // two blocks beside it cost least.
    const Prefix fine(tokens, count, effort.refine);
    const std::size_t ratio = effort.step / effort.refine;
    std::vector<std::size_t> marks;
    for (std::size_t e : ends)
        marks.push_back(e == count ? fine.Marks() - 1 : e / effort.refine);
    for (std::size_t k = 0; k + 1 < marks.size(); ++k) {
        const std::size_t before = k == 0 ? 0 : marks[k - 1];
        const std::size_t after = marks[k + 1];
        const std::size_t lo =
            std::max(before + 1, marks[k] > ratio / 2 ? marks[k] - ratio / 2 : 0);
        const std::size_t hi = std::min(after - 1, marks[k] + ratio / 2);
        std::uint64_t bestCost = UINT64_MAX;
        for (std::size_t m = lo; m <= hi; ++m) {
            const std::uint64_t c = fine.Cost(before, m) + fine.Cost(m, after);
            if (c < bestCost) {
                bestCost = c;
                marks[k] = m;
            }
        }
    }
    ends.clear();
    for (std::size_t m : marks)
        ends.push_back(fine.Index(m));
    return ends;
}

} // namespace tvserver::deflate
