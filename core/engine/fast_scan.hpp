// The fast scan: the same records as the plain scan, with per-n arithmetic only
// where a record is possible.
//
// The Q flags come from a segmented sieve, 64 n to a word. Most n cannot beat
// the running extreme, and that is decided without the profile's arithmetic, on
// x(n) = C(n) - delta * n kept in fixed point:
//
//   delta * 2^S is taken as an integer D (the profile's density gives D and S;
//   for a floating-point delta it is delta's significand, exact), so
//   X(n) = C(n) * 2^S - D * n approximates x(n) * 2^S. It is kept modulo 2^128:
//   C(n) * 2^S alone may not fit, but X(n) itself is small and comes out whole.
//
// Per word, X at the word's start is cut to units of 2^-32, and bounds on the
// excess at the word's Q-numbers and at its F-numbers (excess_bounds.hpp) are
// compared with thresholds derived from the running extremes: first from the
// popcounts of its quarters (word_filter.hpp), then exactly per byte, then per
// bit. Only the n that pass are computed by the profile's density, in order,
// exactly as the plain scan computes them. How far that excess may lie from the
// fixed point is the density's slack (float_density.hpp, exact_density.hpp).
//
// The thresholds only move inwards as records are written (maxQ rises, minE
// falls), so a bit that fails a threshold at any moment could never have passed
// it later.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <numeric>
#include <vector>

#include "engine/cpu_level.hpp"
#include "engine/excess_bounds.hpp"
#include "engine/fixed_point.hpp"
#include "engine/q_count.hpp"
#include "engine/q_number_detector.hpp"
#include "engine/q_sieve.hpp"
#include "engine/scan_state.hpp"
#include "engine/word_filter.hpp"

namespace morvane {

template <class Profile>
class FastScan {
public:
    using Count = typename Profile::Count;
    using Real = typename Profile::Real;
    using Density = typename Profile::Density;

    // n per sieve block: 4 KiB of flags, which stays in the first-level cache.
    static constexpr std::uint64_t block_bits = 32768;

    // Blocks where |x| reaches x_reach units have every n evaluated; the
    // default lies far beyond any excess met (about 474 at n = 10^18, p = 97).
    FastScan(std::int32_t p, std::uint64_t last,
             std::int64_t x_reach = std::int64_t{1} << (20 + unit_bits))
        : x_limit_(x_reach),
          active_(active_square_count<Count>(p)),
          density_(active_),
          fixed_(density_.fixed(last)),
          bounds_(fixed_.delta_lo, fixed_.delta_hi) {}

    // Scans n = first..last (1 <= first <= last, last no more than at
    // construction) with state.count = C(first - 1). Returns false as soon as
    // the sink fails to write.
    template <class Sink>
    bool scan(std::uint64_t first, std::uint64_t last, ScanState<Profile>& state, Sink& sink) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
        // The loop leans on popcnt, tzcnt and lzcnt, which baseline x86-64 lacks
        // (popcount is then a library call). The same source is compiled a second
        // time for x86-64-v3 and chosen when the processor has it. Floating-point
        // contraction stays off there too, so both give the same records.
        if (cpu_has_x86_64_v3()) return scan_v3(first, last, state, sink);
#endif
        return scan_body<false>(first, last, state, sink);
    }

private:
    // X to units of 2^-32 is a fixed shift.
    static constexpr int scale = Density::scale;
    static constexpr int shift = scale - unit_bits;

    // What the word loop carries besides the scan state: the count before the
    // current word and the two thresholds.
    struct Cursor {
        std::uint64_t count;
        std::int64_t tq, tf;
    };

    template <bool V3, class Sink>
    [[gnu::always_inline]] inline bool scan_body(std::uint64_t first, std::uint64_t last,
                                                 ScanState<Profile>& state, Sink& sink);
    template <class Sink>
    [[gnu::target("arch=x86-64-v3")]] bool scan_v3(std::uint64_t first, std::uint64_t last,
                                                   ScanState<Profile>& state, Sink& sink) {
        return scan_body<true>(first, last, state, sink);
    }

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

    // The slow path, kept out of the word loop so that the loop stays in
    // registers; one copy per target.
    template <class Sink>
    [[gnu::always_inline]] inline bool settle_word(Cursor& cursor, ScanState<Profile>& state,
                                                   Sink& sink, const Word& word) const;
    template <class Sink>
    [[gnu::noinline]] bool settle(Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                                  const Word& word) const {
        return settle_word(cursor, state, sink, word);
    }
    template <class Sink>
    [[gnu::noinline, gnu::target("arch=x86-64-v3")]] bool settle_v3(Cursor& cursor,
                                                                    ScanState<Profile>& state,
                                                                    Sink& sink,
                                                                    const Word& word) const {
        return settle_word(cursor, state, sink, word);
    }

    // A Q bit passes when its bound exceeds q_threshold(maxQ), an F bit when its
    // bound is below f_threshold(minE) (bounds relative to x at the word's start,
    // in units rounded down, hence the unit in the slack).
    std::int64_t q_threshold(const Real& maxQ) const {
        return Density::units_floor(maxQ) - fixed_.slack;
    }
    std::int64_t f_threshold(const Real& minE) const {
        return Density::units_ceil(minE) + fixed_.slack;
    }

    // For p < 11, one period of the flags in words, from `first` on.
    PeriodicWordBounds periodic_bounds(std::uint64_t first) const {
        if (active_ > 4) return {};  // 121 and 169 bring periods of 10^8 words and more
        std::uint64_t period = 1;
        for (int k = 0; k < active_; ++k) period *= Squares<std::uint64_t>[k];
        // Word w holds n = first + 64 w ...: the words repeat once 64 w is a
        // multiple of the period.
        std::vector<std::uint64_t> flags(period / std::gcd(period, std::uint64_t{64}));
        QSieve(active_, first).fill(flags.data(), 64 * flags.size());
        return PeriodicWordBounds(flags, fixed_.delta_lo, fixed_.delta_hi);
    }

    // Beyond |x| = 2^20 the fixed-point sums could come near unit_limit; such
    // blocks (none is known to occur) have every n evaluated instead.
    std::int64_t x_limit_;
    int active_;
    Density density_;
    FixedDelta fixed_;
    WordBounds bounds_;
};

template <class Profile>
template <class Sink>
inline bool FastScan<Profile>::settle_word(Cursor& cursor, ScanState<Profile>& state, Sink& sink,
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
    // bits and F bits each in increasing n (they go to different files).
    for (; q_try; q_try &= q_try - 1) {
        const int i = std::countr_zero(q_try);
        const std::uint64_t c = cursor.count + std::popcount(q & (~0ull >> (63 - i)));  // bits 0..i
        const Real e = density_.excess(base_n + i, c);
        if (e > state.maxQ) {
            state.maxQ = e;
            cursor.tq = q_threshold(e);
            if (!sink.q_record(Count(base_n + i), Count(c), e)) return false;
        }
    }
    for (; f_try; f_try &= f_try - 1) {
        const int i = std::countr_zero(f_try);
        const std::uint64_t c = cursor.count + std::popcount(q & ((1ull << i) - 1));  // below i
        const Real e = density_.excess(base_n + i, c);
        if (e < state.minE) {
            state.minE = e;
            cursor.tf = f_threshold(e);
            if (!sink.f_record(Count(base_n + i), Count(base_n + i - c), e)) return false;
        }
    }
    return true;
}

template <class Profile>
template <bool V3, class Sink>
inline bool FastScan<Profile>::scan_body(std::uint64_t first, std::uint64_t last,
                                         ScanState<Profile>& state, Sink& sink) {
    using u128 = unsigned __int128;
    const std::int64_t delta_lo = fixed_.delta_lo, delta_hi = fixed_.delta_hi;
    QSieve sieve(active_, first);
    const PeriodicWordBounds periodic = periodic_bounds(first);
    const bool is_periodic = !periodic.empty();
    std::size_t position = 0;  // of the next full word in the period

    Cursor cursor{state.count, q_threshold(state.maxQ), f_threshold(state.minE)};
    // X at the start of the block, modulo 2^128.
    u128 x_scaled = (u128(cursor.count) << scale) - u128(fixed_.significand) * (first - 1);
    const PeriodicWordBounds* sorted = periodic.has_sorted() ? &periodic : nullptr;
    auto settle_here = [&](const Word& word) {
        if constexpr (V3)
            return settle_v3(cursor, state, sink, word);
        else
            return settle(cursor, state, sink, word);
    };

    std::array<std::uint64_t, block_bits / 64> flags, before;
    for (std::uint64_t n0 = first;;) {
        const std::uint64_t remaining = last - n0 + 1;  // >= 1, and fits: n0 >= 1
        const std::uint64_t bits = std::min(block_bits, remaining);
        sieve.fill(flags.data(), bits);
        const std::uint64_t full_words = bits / 64;
        const std::uint64_t block_count = cursor.count;
        // x at the block's start in units, rounded down.
        const __int128 x_units = static_cast<__int128>(x_scaled) >> shift;
        const bool every_bit = x_units >= x_limit_ || x_units <= -x_limit_;
        const std::int64_t a = every_bit ? 0 : static_cast<std::int64_t>(x_units);
        // The slow path gets x at the word's start exactly, in units rounded down.
        auto settle_at = [&](std::uint64_t w, std::uint64_t before, std::uint64_t q,
                             std::uint64_t valid, const PeriodicWordBounds* table) {
            cursor.count = block_count + before;
            const u128 x_word =
                x_scaled + (u128(before) << scale) - u128(fixed_.significand) * (64 * w);
            const auto x =
                every_bit ? 0 : static_cast<std::int64_t>(static_cast<__int128>(x_word) >> shift);
            return settle_here(
                {n0 + 64 * w, q, valid, x, every_bit ? nullptr : table, position, every_bit});
        };

        std::uint64_t block_q = 0;  // Q bits of the block's full words
        if (is_periodic) {
            // x at each word's start, in units, lies in [x_lo, x_hi + 1): from a,
            // with delta * 2^32 taken rounded up for x_lo and down for x_hi. They
            // part by at most one unit per n of the block and coincide when the
            // fixed point is exact.
            std::int64_t x_hi = a, x_lo = a;
            for (std::uint64_t w = 0; w < full_words; ++w) {
                const std::uint64_t q = flags[w];
                if ((every_bit || x_hi + periodic.q_peak(position) > cursor.tq ||
                     x_lo + periodic.f_trough(position) < cursor.tf) &&
                    !settle_at(w, block_q, q, ~0ull, sorted))
                    return false;
                if (++position == periodic.size()) position = 0;
                const int pc = std::popcount(q);
                block_q += pc;
                x_hi += pc * unit - 64 * delta_lo;
                x_lo += pc * unit - 64 * delta_hi;
            }
        } else {
            const WordFilter filter{delta_lo, delta_hi, cursor.tq - a, cursor.tf - a};
            std::array<std::uint64_t, block_bits / 64 / 64> marks{};
#if defined(__x86_64__)
            if constexpr (V3)
                block_q =
                    mark_words_avx2(flags.data(), full_words, filter, marks.data(), before.data());
            else
#endif
                block_q = mark_words(flags.data(), full_words, filter, marks.data(), before.data());
            for (std::size_t m = 0; m < marks.size(); ++m) {
                std::uint64_t marked = every_bit ? ~0ull : marks[m];
                for (; marked; marked &= marked - 1) {
                    const std::uint64_t w = 64 * m + std::countr_zero(marked);
                    if (w >= full_words) break;
                    if (!settle_at(w, before[w], flags[w], ~0ull, nullptr)) return false;
                }
            }
        }
        cursor.count = block_count + block_q;
        if (const unsigned width = bits % 64) {  // the scan's last, partial word
            const std::uint64_t valid = (1ull << width) - 1;
            const std::uint64_t q = flags[full_words] & valid;
            // Settled through the chunk table: its flags are not the period's.
            if (!settle_at(full_words, block_q, q, valid, nullptr)) return false;
            cursor.count += std::popcount(q);
        }
        if (bits == remaining) break;
        x_scaled += (u128(cursor.count - block_count) << scale) - u128(fixed_.significand) * bits;
        n0 += bits;
    }
    state.count = static_cast<Count>(cursor.count);
    return true;
}

// Where the profile's excess repeats exactly with some period P (the exact
// excess does, see exact_density.hpp), every excess from first + P on has been
// met already in [first, first + P), so it cannot beat the running extreme:
// the last n that can write a record of a run from first (at least 1) to N is
// first + P - 1, and otherwise N.
template <class Profile>
std::uint64_t last_record_n(int active, std::uint64_t first, std::uint64_t N) {
    const std::uint64_t period = Profile::Density::excess_period(active);
    return period != 0 && N - first >= period ? first + period - 1 : N;
}

// The whole run: the count below nmin by inclusion and exclusion, then the
// fast scan from max(nmin, 1) to the last n that can write a record; C(N)
// beyond that is counted without walking.
template <class Profile, class Sink>
bool fast_scan(std::int32_t p, typename Profile::Count N, typename Profile::Count nmin,
               ScanState<Profile>& state, Sink& sink) {
    using Count = typename Profile::Count;
    const int active = active_square_count<Count>(p);
    const std::uint64_t first = nmin > 1 ? nmin : 1;
    const std::uint64_t last = last_record_n<Profile>(active, first, N);
    const bool cut = last != N;
    FastScan<Profile> engine(p, last);
    state.count = static_cast<Count>(count_q_numbers(first - 1, active));
    if (!engine.scan(first, last, state, sink)) return false;
    if (cut) state.count = static_cast<Count>(count_q_numbers(N, active));
    return true;
}

}  // namespace morvane
