// The second test of the fast scan, for the words that pass the gate
// (word_gate.hpp): whether a word might hold a record, judged from the
// popcounts of its four 16-bit quarters.
//
// Relative to x at the block's start (a, in units of 2^-32, rounded down), x at
// the start of word w lies within [C_w * unit - 64 w delta_hi,
// C_w * unit - 64 w delta_lo + 1), C_w the Q bits of the block before word w.
// Inside the word, take quarter h with pc_h Q bits, and Q bits before it
// and up to its end B_h and E_h = B_h + pc_h:
//   - at its k-th Q bit, J = B_h + k and i + 1 >= 16 h + k, so the excess has
//     moved by at most B_h + k - delta (16 h + k) <= E_h - delta (16 h + pc_h);
//   - at its k-th F bit, J = B_h + (i + 1 - 16 h) - k, so it has moved by at
//     least B_h - delta (16 h) + (1 - delta)(i + 1 - 16 h) - k
//     >= B_h - delta (16 h + k) >= B_h - delta (16 h + 16 - pc_h).
// A word passes when either bound reaches the given level. The levels are the
// thresholds at the block's start; they only move inwards later, so the words
// that pass are a superset of those needed.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "engine/excess_bounds.hpp"

namespace morvane {

struct WordFilter {
    std::int64_t delta_lo, delta_hi;  // delta * 2^32 rounded down and up
    std::int64_t q_level;             // a Q bound above this marks the word (threshold - a)
    std::int64_t f_level;             // an F bound below this marks the word (threshold - a)
};

// Word w of the block, with Q bits q and C_w = before.
inline bool quarter_bounds_pass(std::uint64_t q, std::uint64_t before, std::size_t w,
                                const WordFilter& filter) {
    const auto wi = static_cast<std::int64_t>(w);
    const auto start = static_cast<std::int64_t>(before) * unit;
    std::int64_t q_peak = -WordBounds::none, f_trough = WordBounds::none, b = 0;
    for (int h = 0; h < 4; ++h) {
        const std::int64_t pc = std::popcount((q >> (16 * h)) & 0xffff);
        if (pc > 0) q_peak = std::max(q_peak, (b + pc) * unit - filter.delta_lo * (16 * h + pc));
        if (pc < 16) f_trough = std::min(f_trough, b * unit - filter.delta_hi * (16 * h + 16 - pc));
        b += pc;
    }
    return start - 64 * wi * filter.delta_lo + q_peak > filter.q_level ||
           start - 64 * wi * filter.delta_hi + f_trough < filter.f_level;
}

}  // namespace morvane
