// Fixed-point bounds on the excess inside one word of 64 Q flags.
//
// Relative to x at the word's start, the exact excess after bit i is
// J * 1 - delta * (i + 1), J the Q bits among bits 0..i. In units of 2^-32,
// with delta * 2^32 rounded down (delta_lo) or up (delta_hi):
//   at a Q bit:  below  J * unit - delta_lo * (i + 1) (+ what the caller adds),
//   at an F bit: at or above J * unit - delta_hi * (i + 1).
// The word's highest Q bound and lowest F bound come from a table over its
// bytes; the bits whose own bound passes a level are then picked one by one.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <functional>
#include <vector>

#include "arith/fixed_point.hpp"

namespace morvane {

class WordBounds {
public:
    // Far beyond any bound that a word can have: the peak of a word without Q
    // bits, the trough of one without F bits.
    static constexpr std::int64_t none = std::int64_t{1} << 60;

    WordBounds(std::int64_t delta_lo, std::int64_t delta_hi)
        : delta_lo_(delta_lo), delta_hi_(delta_hi) {
        for (unsigned c = 0; c < 256; ++c) {
            std::int64_t peak = -none, trough = none, j = 0;
            for (int i = 0; i < 8; ++i) {
                if (c >> i & 1) {
                    ++j;
                    peak = std::max(peak, j * unit - delta_lo * (i + 1));
                } else {
                    trough = std::min(trough, j * unit - delta_hi * (i + 1));
                }
            }
            chunks_[c] = {peak, trough};
        }
    }

    // The highest bound over the Q bits of q and the lowest over the F bits,
    // the clear bits of not_f (bits set in not_f are Q bits, or bits past the
    // end of the scan, which follow every F bit).
    struct Extremes {
        std::int64_t q_peak, f_trough;
    };
    Extremes extremes(std::uint64_t q, std::uint64_t not_f) const {
        std::int64_t peak = -none, trough = none, jq = 0, jf = 0;
        for (int k = 0; k < 8; ++k) {
            const unsigned cq = (q >> (8 * k)) & 0xff, cf = (not_f >> (8 * k)) & 0xff;
            peak = std::max(peak, jq * unit - delta_lo_ * (8 * k) + chunks_[cq].q_peak);
            trough = std::min(trough, jf * unit - delta_hi_ * (8 * k) + chunks_[cf].f_trough);
            jq += std::popcount(cq);
            jf += std::popcount(cf);
        }
        return {peak, trough};
    }

    // The Q bits whose own bound lies above level.
    std::uint64_t q_bits_above(std::uint64_t q, std::int64_t level) const {
        std::uint64_t bits = 0;
        std::int64_t j = 0;
        for (std::uint64_t b = q; b; b &= b - 1) {
            const int i = std::countr_zero(b);
            ++j;
            if (j * unit - delta_lo_ * (i + 1) > level) bits |= 1ull << i;
        }
        return bits;
    }

    // The F bits (clear in not_f) whose own bound lies below level.
    std::uint64_t f_bits_below(std::uint64_t not_f, std::int64_t level) const {
        std::uint64_t bits = 0;
        for (std::uint64_t b = ~not_f; b; b &= b - 1) {
            const int i = std::countr_zero(b);
            const std::int64_t j = std::popcount(not_f & ((1ull << i) - 1));
            if (j * unit - delta_hi_ * (i + 1) < level) bits |= 1ull << i;
        }
        return bits;
    }

private:
    std::int64_t delta_lo_, delta_hi_;
    // Per byte of flags: its Q peak and F trough from the byte's start.
    std::array<Extremes, 256> chunks_;
};

// For p < 11 the flags repeat with a period of at most 44100 n, so the words of
// a scan repeat too, and each word's peak and trough are looked up, not formed.
// Where the period is short (p < 7: 9 or 225 words) each word also keeps its
// bit bounds sorted, Q bits descending and F bits ascending, each entry being
// bound * 64 + bit, so that the bits passing a level are the first few entries.
class PeriodicWordBounds {
public:
    PeriodicWordBounds() = default;
    // flags: one period of words in scan order.
    PeriodicWordBounds(const std::vector<std::uint64_t>& flags, std::int64_t delta_lo,
                       std::int64_t delta_hi) {
        const std::size_t words = flags.size();
        extremes_.resize(words);
        const bool sorted = words <= 1024;
        if (sorted) sorted_.resize(64 * words);
        for (std::size_t w = 0; w < words; ++w) {
            std::int64_t peak = -WordBounds::none, trough = WordBounds::none, j = 0;
            std::int64_t* q_entry = sorted ? &sorted_[64 * w] : nullptr;
            std::int64_t* f_entry = sorted ? q_entry + std::popcount(flags[w]) : nullptr;
            for (int i = 0; i < 64; ++i) {
                if (flags[w] >> i & 1) {
                    ++j;
                    const std::int64_t bound = j * unit - delta_lo * (i + 1);
                    peak = std::max(peak, bound);
                    if (sorted) *q_entry++ = bound * 64 + i;
                } else {
                    const std::int64_t bound = j * unit - delta_hi * (i + 1);
                    trough = std::min(trough, bound);
                    if (sorted) *f_entry++ = bound * 64 + i;
                }
            }
            extremes_[w] = {peak, trough};
            if (sorted) {
                std::int64_t* first = &sorted_[64 * w];
                std::int64_t* split = first + std::popcount(flags[w]);
                std::sort(first, split, std::greater<>());
                std::sort(split, first + 64);
            }
        }
    }

    bool empty() const { return extremes_.empty(); }
    std::size_t size() const { return extremes_.size(); }
    std::int64_t q_peak(std::size_t at) const { return extremes_[at].q_peak; }
    std::int64_t f_trough(std::size_t at) const { return extremes_[at].f_trough; }
    bool has_sorted() const { return !sorted_.empty(); }

    // With sorted bounds: the Q bits of word `at` whose bound lies above level.
    std::uint64_t q_bits_above(std::size_t at, std::uint64_t q, std::int64_t level) const {
        std::uint64_t bits = 0;
        const std::int64_t* e = &sorted_[64 * at];
        for (const std::int64_t* end = e + std::popcount(q); e != end && (*e >> 6) > level; ++e)
            bits |= 1ull << (*e & 63);
        return bits;
    }
    std::uint64_t f_bits_below(std::size_t at, std::uint64_t q, std::int64_t level) const {
        std::uint64_t bits = 0;
        const std::int64_t* e = &sorted_[64 * at] + std::popcount(q);
        for (const std::int64_t* end = &sorted_[64 * at] + 64; e != end && (*e >> 6) < level; ++e)
            bits |= 1ull << (*e & 63);
        return bits;
    }

private:
    struct Extremes {
        std::int64_t q_peak, f_trough;
    };
    std::vector<Extremes> extremes_;
    std::vector<std::int64_t> sorted_;
};

}  // namespace morvane
