// A streaming DEFLATE encoder: input in pieces of any size, output as it is
// made, memory bounded by the window and one segment of input whatever the
// stream's length.
#pragma once

#include "bit_writer.h"
#include "block_splitter.h"
#include "match_finder.h"
#include "optimal_parser.h"
#include "tables.h"

#include <cstddef>
#include <vector>

namespace tvserver::deflate {

constexpr int kFastestLevel = 1;
constexpr int kDefaultLevel = 6;
constexpr int kMaxLevel = 9;
constexpr int kBestLevel = 10; // slow: optimal parsing

class DeflateEncoder {
  public:
    // level: kFastestLevel to kBestLevel (clamped).
    explicit DeflateEncoder(int level);

    // Appends the output made so far to out.
    void Write(const unsigned char* data, std::size_t size, std::vector<unsigned char>& out);
    // Ends the stream (the last block is marked final, padded to a byte).
    void Finish(std::vector<unsigned char>& out);

  private:
    struct Params {
        unsigned good;  // a match this long quarters the lazy search
        unsigned lazy;  // a match this long is taken without looking one byte on
        unsigned nice;  // a match this long ends the search
        unsigned chain; // candidates looked at
    };

    void CompressSegment(bool final);
    void ParseOptimal(std::size_t limit);
    void Parse(std::size_t limit);
    void SlideWindow();
    void InsertUpTo(std::size_t end);
    void PushLiteral(unsigned char byte) { m_tokens.push_back({byte, 0}); }
    void PushMatch(const Match& m) {
        m_tokens.push_back(
            {static_cast<std::uint16_t>(m.length), static_cast<std::uint16_t>(m.dist)});
    }

    Params m_params;
    bool m_lazy;
    SplitEffort m_split;
    std::vector<unsigned char> m_buf;
    std::size_t m_end = 0;      // valid bytes in m_buf
    std::size_t m_pos = 0;      // next byte to parse
    std::size_t m_inserted = 0; // positions below this are on the hash chains
    MatchFinder m_matches;
    bool m_optimal;
    OptimalParser m_optimalParser;
    std::vector<Token> m_tokens;
    BitWriter m_bits;
};

} // namespace tvserver::deflate
