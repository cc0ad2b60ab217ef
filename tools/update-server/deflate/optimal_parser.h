// The best level's parse: every position's match candidates are collected
// once, then the cheapest path through the input is found under a cost
// model taken from the previous parse's own statistics, block by block,
// for a few rounds.
#pragma once

#include "block_splitter.h"
#include "tables.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tvserver::deflate {

class OptimalParser {
  public:
    // Starts a segment whose first position is start.
    void Begin(std::size_t start);
    // The candidates of the next position: distOf[len] for len from
    // kMinMatch to longest (0: none), as MatchFinder::AllLengths leaves them.
    void AddPosition(const std::uint16_t* distOf, unsigned longest);

    // The cheapest tokens for buf[start, start + positions added).
    std::vector<Token> Parse(const unsigned char* buf, int rounds, const SplitEffort& split);

  private:
    struct Candidate {
        std::uint16_t length; // the longest length at this distance
        std::uint16_t dist;
    };
    struct CostModel;

    std::vector<Token> PathThrough(const unsigned char* buf, std::size_t from, std::size_t to,
                                   const CostModel& model);
    std::vector<Token> RoundOn(const unsigned char* buf, const std::vector<Token>& previous,
                               const SplitEffort& split);

    std::size_t m_start = 0;
    std::vector<std::uint32_t> m_first; // per position: its first candidate; one more at the end
    std::vector<Candidate> m_candidates;
    std::vector<std::uint32_t> m_cost;
    std::vector<Candidate> m_step; // per position: how the cheapest path arrived
};

} // namespace tvserver::deflate
