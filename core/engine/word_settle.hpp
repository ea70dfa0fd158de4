// The fast scan's slow path: a word that the quick tests could not settle.
//
// Its Q bits and F bits whose own fixed-point bounds (excess_bounds.hpp) pass
// the thresholds are evaluated in the profile's arithmetic, in increasing n,
// exactly as the plain scan evaluates them; how far that excess may lie from the
// fixed point is the density's slack (float_density.hpp, exact_density.hpp).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "engine/excess_bounds.hpp"
#include "arith/fixed_point.hpp"
#include "arith/prime_set.hpp"
#include "engine/scan_state.hpp"

namespace morvane {

// What the word loop carries besides the scan state: the count before the
// current word and the two thresholds.
struct Cursor {
    std::uint64_t count;
    std::int64_t tq, tf;
};

// A word that the quick bounds could not settle.
struct Word {
    std::uint64_t base_n;  // the n of bit 0
    std::uint64_t q;       // its Q bits
    std::uint64_t valid;   // its bits inside the scan
    std::int64_t x;        // x at its start, in units rounded down
    // Its bit bounds in sorted order, for a full word of a short period.
    const PeriodicWordBounds* sorted;
    std::size_t position;  // in that period
    bool every_bit;        // evaluate every bit: the fixed point is not safe
};

template <class Profile>
class WordSettler {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    using Density = typename Profile::Density;

    WordSettler(const PrimeSet& set, const FixedDelta& fixed)
        : density_(set), bounds_(fixed.delta_lo, fixed.delta_hi), slack_(fixed.slack) {}

    // A Q bit passes when its bound exceeds q_threshold(maxQ), an F bit when its
    // bound is below f_threshold(minE) (bounds relative to x at the word's
    // start, in units rounded down, hence the unit in the slack).
    std::int64_t q_threshold(const Real& maxQ) const { return Density::units_floor(maxQ) - slack_; }
    std::int64_t f_threshold(const Real& minE) const { return Density::units_ceil(minE) + slack_; }

    // Returns false as soon as the sink fails to write. Inlined into each copy
    // of the scan's slow path.
    template <class Sink>
    [[gnu::always_inline]] inline bool settle(Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                                              const Word& word) const;

private:
    Density density_;
    WordBounds bounds_;
    std::int64_t slack_;
};

template <class Profile>
template <class Sink>
inline bool WordSettler<Profile>::settle(Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                                         const Word& word) const {
    const std::uint64_t q = word.q, base_n = word.base_n;
    // Bits set in not_f: Q bits and bits past the end of the scan.
    const std::uint64_t not_f = q | ~word.valid;
    std::uint64_t q_try = q, f_try = ~not_f;
    if (word.sorted) {
        q_try = word.sorted->q_bits_above(word.position, q, cursor.tq - word.x);
        f_try = word.sorted->f_bits_below(word.position, q, cursor.tf - word.x);
    } else if (!word.every_bit) {
        // Exact per byte, then per bit.
        const auto [q_peak, f_trough] = bounds_.extremes(q, not_f);
        q_try = q && word.x + q_peak > cursor.tq ? bounds_.q_bits_above(q, cursor.tq - word.x) : 0;
        f_try = ~not_f && word.x + f_trough < cursor.tf
                    ? bounds_.f_bits_below(not_f, cursor.tf - word.x)
                    : 0;
    }
    // The evaluation in the profile's arithmetic, as the plain scan does it: Q
    // bits and F bits each in increasing n (they go to different files). A
    // record goes to the sink as the state holds it, not as e: the sink is
    // called through a pointer, and e's address taken there would make every
    // candidate store e to memory (an 80-bit store and load per bit for
    // morvane-l, a tenth of its time at p = 3).
    for (; q_try; q_try &= q_try - 1) {
        const int i = std::countr_zero(q_try);
        const std::uint64_t c = cursor.count + std::popcount(q & (~0ull >> (63 - i)));  // bits 0..i
        const Real e = density_.excess(base_n + i, c);
        if (e > state.maxQ) {
            state.maxQ = e;
            cursor.tq = q_threshold(e);
            if (!sink.q_record(Count(base_n + i), Count(c), state.maxQ)) return false;
        }
    }
    for (; f_try; f_try &= f_try - 1) {
        const int i = std::countr_zero(f_try);
        const std::uint64_t c = cursor.count + std::popcount(q & ((1ull << i) - 1));  // below i
        const Real e = density_.excess(base_n + i, c);
        if (e < state.minE) {
            state.minE = e;
            cursor.tf = f_threshold(e);
            if (!sink.f_record(Count(base_n + i), Count(base_n + i - c), state.minE))
                return false;
        }
    }
    return true;
}

}  // namespace morvane
