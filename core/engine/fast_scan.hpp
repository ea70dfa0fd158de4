// The fast scan: the same records as the plain scan, with per-n arithmetic only
// where a record is possible.
//
// The Q flags come from a segmented sieve (q_sieve.hpp), 64 n to a word. Most n
// cannot beat the running extreme, and that is decided without the profile's
// arithmetic, on x(n) = C(n) - delta * n kept in fixed point:
//
//   delta * 2^S is taken as an integer D (the profile's density gives D and S;
//   for a floating-point delta it is delta's significand, exact), so
//   X(n) = C(n) * 2^S - D * n approximates x(n) * 2^S. It is kept modulo 2^128:
//   C(n) * 2^S alone may not fit, but X(n) itself is small and comes out whole.
//
// Per block, X at the block's start is cut to units of 2^-32, and bounds on the
// excess at each word's Q-numbers and F-numbers are compared with thresholds
// derived from the running extremes: from each word's popcount (word_gate.hpp),
// then from the popcounts of its quarters (word_filter.hpp); the few words left
// go to the slow path (word_settle.hpp), exact per byte, then per bit, and the
// n that pass there are computed by the profile's density. For p < 11 the
// words repeat with a short period, and their bounds are looked up instead
// (excess_bounds.hpp).
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

#include "engine/engine_copy.hpp"
#include "engine/excess_bounds.hpp"
#include "arith/fixed_point.hpp"
#include "engine/q_count.hpp"
#include "engine/q_number_detector.hpp"
#include "engine/q_sieve.hpp"
#include "engine/scan_state.hpp"
#include "engine/word_filter.hpp"
#include "engine/word_gate.hpp"
#include "engine/word_settle.hpp"

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
    FastScan(const PrimeSet& set, std::uint64_t last,
             std::int64_t x_reach = std::int64_t{1} << (20 + unit_bits))
        : x_limit_(x_reach),
          set_(set),
          last_(last),
          fixed_(Density(set).fixed(last)),
          settler_(set, fixed_) {}
    // morvane's and morvane-l's sets: the squares of the primes up to p.
    FastScan(std::int32_t p, std::uint64_t last,
             std::int64_t x_reach = std::int64_t{1} << (20 + unit_bits))
        : FastScan(squares_set(p), last, x_reach) {}

    // Scans n = first..last (1 <= first <= last, last no more than at
    // construction) with state.count = C(first - 1), in the copy of the loops
    // chosen for this process. Returns false as soon as the sink fails to write.
    template <class Sink>
    bool scan(std::uint64_t first, std::uint64_t last, ScanState<Profile>& state, Sink& sink) {
        return scan_with(chosen_engine_copy(), first, last, state, sink);
    }

    // The same in the given copy, which must run here (engine_copy_runs).
    template <class Sink>
    bool scan_with(EngineCopy copy, std::uint64_t first, std::uint64_t last,
                   ScanState<Profile>& state, Sink& sink) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
        if (copy == EngineCopy::v4) return scan_v4(first, last, state, sink);
        if (copy == EngineCopy::v3) return scan_v3(first, last, state, sink);
#endif
        (void)copy;
        return scan_body<EngineCopy::baseline>(first, last, state, sink);
    }

private:
    // X to units of 2^-32 is a fixed shift.
    static constexpr int scale = Density::scale;
    static constexpr int shift = scale - unit_bits;
    using u128 = unsigned __int128;

    // Where the word loop stands in the current block.
    struct Block {
        std::uint64_t n0;     // its first n
        std::uint64_t count;  // C(n0 - 1)
        u128 x_scaled;        // X(n0 - 1), modulo 2^128
        std::int64_t a;       // x there in units, rounded down (0 for every_bit)
        bool every_bit;       // |x| beyond x_limit_: the fixed point is not trusted
    };

    template <EngineCopy Copy, class Sink>
    [[gnu::always_inline]] inline bool scan_body(std::uint64_t first, std::uint64_t last,
                                                 ScanState<Profile>& state, Sink& sink);
    template <class Sink>
    [[gnu::target("arch=x86-64-v3")]] bool scan_v3(std::uint64_t first, std::uint64_t last,
                                                   ScanState<Profile>& state, Sink& sink) {
        return scan_body<EngineCopy::v3>(first, last, state, sink);
    }
    // The v4 copy's plain loops (the sieve's) are vectorised at the full width of
    // AVX-512; clang (the fuzz targets) has no such option in the attribute.
    template <class Sink>
#if defined(__clang__)
    [[gnu::target("arch=x86-64-v4,avx512vpopcntdq")]]
#else
    [[gnu::target("arch=x86-64-v4,avx512vpopcntdq,prefer-vector-width=512")]]
#endif
    bool
    scan_v4(std::uint64_t first, std::uint64_t last, ScanState<Profile>& state, Sink& sink) {
        return scan_body<EngineCopy::v4>(first, last, state, sink);
    }

    // Which first test a block takes. The gate costs a popcount a word and lets
    // about one word in a hundred through at p = 97; at small p, whose excess
    // never strays far from its extremes, it lets nearly every word through, and
    // then the quarter bounds of every word (four at a time with AVX2) are
    // cheaper. A gate block that passes more than an eighth of its words takes
    // the quarter bounds of every word instead, and so do the next quarter_run
    // blocks; then the gate is tried again.
    struct FirstTest {
        static constexpr unsigned quarter_run = 64;
        unsigned quarter_blocks = 0;
    };

    // The full words of a block for p >= 11: the first test, the quarter bounds
    // of the words the gate passes, the slow path.
    template <EngineCopy Copy, class Sink>
    [[gnu::always_inline]] inline bool gated_words(const Block& block, Cursor& cursor,
                                                   ScanState<Profile>& state, Sink& sink,
                                                   const std::uint64_t* flags,
                                                   std::uint64_t full_words, FirstTest& first_test,
                                                   std::uint64_t& block_q);

    // The full words of a block for p < 11, whose bounds repeat with the period.
    template <EngineCopy Copy, class Sink>
    [[gnu::always_inline]] inline bool periodic_words(
        const Block& block, Cursor& cursor, ScanState<Profile>& state, Sink& sink,
        const std::uint64_t* flags, std::uint64_t full_words, const PeriodicWordBounds& periodic,
        std::size_t& position, std::uint64_t& block_q);

    // Word w of the block, with `before` Q bits of the block before it, to the
    // slow path, with x at the word's start exactly, in units rounded down.
    template <EngineCopy Copy, class Sink>
    [[gnu::always_inline]] inline bool settle_at(const Block& block, Cursor& cursor,
                                                 ScanState<Profile>& state, Sink& sink,
                                                 std::uint64_t w, std::uint64_t before,
                                                 std::uint64_t q, std::uint64_t valid,
                                                 const PeriodicWordBounds* sorted,
                                                 std::size_t position) const {
        cursor.count = block.count + before;
        const u128 x_word =
            block.x_scaled + (u128(before) << scale) - u128(fixed_.significand) * (64 * w);
        const auto x =
            block.every_bit ? 0 : static_cast<std::int64_t>(static_cast<__int128>(x_word) >> shift);
        const Word word{
            block.n0 + 64 * w, q, valid, x, block.every_bit ? nullptr : sorted, position,
            block.every_bit};
        if constexpr (Copy == EngineCopy::baseline)
            return settle(cursor, state, sink, word);
        else
            return settle_v3(cursor, state, sink, word);
    }

    // The slow path, kept out of the word loop so that the loop stays in
    // registers: one copy for baseline x86-64, one for the vector copies.
    template <class Sink>
    [[gnu::noinline]] bool settle(Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                                  const Word& word) const {
        return settler_.settle(cursor, state, sink, word);
    }
    template <class Sink>
    [[gnu::noinline, gnu::target("arch=x86-64-v3")]] bool settle_v3(Cursor& cursor,
                                                                    ScanState<Profile>& state,
                                                                    Sink& sink,
                                                                    const Word& word) const {
        return settler_.settle(cursor, state, sink, word);
    }

    // For a set of a short period (p < 11 for squares), one period of the
    // flags in words, from `first` on.
    PeriodicWordBounds periodic_bounds(std::uint64_t first) const {
        // 121 and 169 bring periods of 10^8 words and more.
        constexpr std::uint64_t longest_period = 4 * 9 * 25 * 49;
        const std::vector<std::uint64_t> powers = Sieve::small_powers(set_, last_);
        if (largest_needed_prime(set_, last_) > integer_root(block_bits, set_.k)) return {};
        std::uint64_t period = 1;
        for (const std::uint64_t s : powers) {
            if (period > longest_period / s) return {};
            period *= s;
        }
        // Word w holds n = first + 64 w ...: the words repeat once 64 w is a
        // multiple of the period.
        std::vector<std::uint64_t> flags(period / std::gcd(period, std::uint64_t{64}));
        Sieve(set_, first, last_).fill(flags.data(), 64 * flags.size());
        return PeriodicWordBounds(flags, fixed_.delta_lo, fixed_.delta_hi);
    }

    // Beyond |x| = 2^20 the fixed-point sums could come near unit_limit; such
    // blocks (none is known to occur) have every n evaluated instead.
    using Sieve = QSieve<typename Profile::Primes>;

    std::int64_t x_limit_;
    PrimeSet set_;
    std::uint64_t last_;
    FixedDelta fixed_;
    WordSettler<Profile> settler_;
};

template <class Profile>
template <EngineCopy Copy, class Sink>
inline bool FastScan<Profile>::gated_words(const Block& block, Cursor& cursor,
                                           ScanState<Profile>& state, Sink& sink,
                                           const std::uint64_t* flags, std::uint64_t full_words,
                                           FirstTest& first_test, std::uint64_t& block_q) {
    const WordFilter filter{fixed_.delta_lo, fixed_.delta_hi, cursor.tq - block.a,
                            cursor.tf - block.a};
    std::array<std::uint64_t, block_bits / 64 / 64> marks{};
    std::array<std::uint64_t, block_bits / 64> before;
    bool gate = first_test.quarter_blocks == 0;
    if (gate) {
#if defined(__x86_64__)
        if constexpr (Copy == EngineCopy::v4)
            block_q = gate_words_avx512(flags, full_words, filter, marks.data(), before.data());
        else if constexpr (Copy == EngineCopy::v3)
            block_q = gate_words_avx2(flags, full_words, filter, marks.data(), before.data());
        else
#endif
            block_q = gate_words(flags, full_words, filter, marks.data(), before.data());
        std::uint64_t passed = 0;
        for (std::uint64_t m : marks) passed += std::popcount(m);
        if (passed > full_words / 8) {
            first_test.quarter_blocks = FirstTest::quarter_run;
            gate = false;
            marks = {};
        }
    } else {
        --first_test.quarter_blocks;
    }
    if (!gate) {
#if defined(__x86_64__)
        if constexpr (Copy != EngineCopy::baseline)
            block_q = mark_words_avx2(flags, full_words, filter, marks.data(), before.data());
        else
#endif
            block_q = mark_words(flags, full_words, filter, marks.data(), before.data());
    }
    for (std::size_t m = 0; m < marks.size(); ++m) {
        std::uint64_t marked = block.every_bit ? ~0ull : marks[m];
        for (; marked; marked &= marked - 1) {
            const std::uint64_t w = 64 * m + std::countr_zero(marked);
            if (w >= full_words) break;
            if (gate && !block.every_bit && !quarter_bounds_pass(flags[w], before[w], w, filter))
                continue;
            if (!settle_at<Copy>(block, cursor, state, sink, w, before[w], flags[w], ~0ull, nullptr,
                                 0))
                return false;
        }
    }
    return true;
}

template <class Profile>
template <EngineCopy Copy, class Sink>
inline bool FastScan<Profile>::periodic_words(const Block& block, Cursor& cursor,
                                              ScanState<Profile>& state, Sink& sink,
                                              const std::uint64_t* flags, std::uint64_t full_words,
                                              const PeriodicWordBounds& periodic,
                                              std::size_t& position, std::uint64_t& block_q) {
    // x at each word's start, in units, lies in [x_lo, x_hi + 1): from a, with
    // delta * 2^32 taken rounded up for x_lo and down for x_hi. They part by at
    // most one unit per n of the block and coincide when the fixed point is exact.
    const PeriodicWordBounds* sorted = periodic.has_sorted() ? &periodic : nullptr;
    std::int64_t x_hi = block.a, x_lo = block.a;
    block_q = 0;
    for (std::uint64_t w = 0; w < full_words; ++w) {
        const std::uint64_t q = flags[w];
        if ((block.every_bit || x_hi + periodic.q_peak(position) > cursor.tq ||
             x_lo + periodic.f_trough(position) < cursor.tf) &&
            !settle_at<Copy>(block, cursor, state, sink, w, block_q, q, ~0ull, sorted, position))
            return false;
        if (++position == periodic.size()) position = 0;
        const int pc = std::popcount(q);
        block_q += pc;
        x_hi += pc * unit - 64 * fixed_.delta_lo;
        x_lo += pc * unit - 64 * fixed_.delta_hi;
    }
    return true;
}

template <class Profile>
template <EngineCopy Copy, class Sink>
inline bool FastScan<Profile>::scan_body(std::uint64_t first, std::uint64_t last,
                                         ScanState<Profile>& state, Sink& sink) {
    Sieve sieve(set_, first, last);
    const PeriodicWordBounds periodic = periodic_bounds(first);
    std::size_t position = 0;  // of the next full word in the period
    FirstTest first_test;

    Cursor cursor{state.count, settler_.q_threshold(state.maxQ), settler_.f_threshold(state.minE)};
    Block block{first, cursor.count,
                (u128(cursor.count) << scale) - u128(fixed_.significand) * (first - 1), 0, false};
    std::array<std::uint64_t, block_bits / 64> flags;
    for (;;) {
        const std::uint64_t remaining = last - block.n0 + 1;  // >= 1, and fits: n0 >= 1
        const std::uint64_t bits = std::min(block_bits, remaining);
        sieve.fill(flags.data(), bits);
        const std::uint64_t full_words = bits / 64;
        const __int128 x_units = static_cast<__int128>(block.x_scaled) >> shift;
        block.every_bit = x_units >= x_limit_ || x_units <= -x_limit_;
        block.a = block.every_bit ? 0 : static_cast<std::int64_t>(x_units);

        std::uint64_t block_q = 0;  // Q bits of the block's full words
        const bool words_done = periodic.empty()
                                    ? gated_words<Copy>(block, cursor, state, sink, flags.data(),
                                                        full_words, first_test, block_q)
                                    : periodic_words<Copy>(block, cursor, state, sink, flags.data(),
                                                           full_words, periodic, position, block_q);
        if (!words_done) return false;
        cursor.count = block.count + block_q;
        if (const unsigned width = bits % 64) {  // the scan's last, partial word
            const std::uint64_t valid = (1ull << width) - 1;
            const std::uint64_t q = flags[full_words] & valid;
            // Settled through the chunk table: its flags are not the period's.
            if (!settle_at<Copy>(block, cursor, state, sink, full_words, block_q, q, valid, nullptr,
                                 0))
                return false;
            cursor.count += std::popcount(q);
        }
        if (bits == remaining) break;
        block.x_scaled +=
            (u128(cursor.count - block.count) << scale) - u128(fixed_.significand) * bits;
        block.count = cursor.count;
        block.n0 += bits;
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
std::uint64_t last_record_n(const PrimeSet& set, std::uint64_t first, std::uint64_t N) {
    const std::uint64_t period = Profile::Density::excess_period(set);
    return period != 0 && N - first >= period ? first + period - 1 : N;
}

// The whole run: the count below nmin by inclusion and exclusion, then the
// fast scan from max(nmin, 1) to the last n that can write a record; C(N)
// beyond that is counted without walking. In the copy of the loops chosen for
// this process, or in the one given, which must run here (engine_copy_runs).
template <class Profile, class Sink>
bool fast_scan(const PrimeSet& set, typename Profile::Count N, typename Profile::Count nmin,
               ScanState<Profile>& state, Sink& sink, EngineCopy copy = chosen_engine_copy()) {
    using Count = typename Profile::Count;
    const std::uint64_t first = nmin > 1 ? nmin : 1;
    const std::uint64_t last = last_record_n<Profile>(set, first, N);
    const bool cut = last != N;
    FastScan<Profile> engine(set, last);
    state.count = static_cast<Count>(count_q_numbers(first - 1, set));
    if (!engine.scan_with(copy, first, last, state, sink)) return false;
    if (cut) state.count = static_cast<Count>(count_q_numbers(N, set));
    return true;
}
template <class Profile, class Sink>
bool fast_scan(std::int32_t p, typename Profile::Count N, typename Profile::Count nmin,
               ScanState<Profile>& state, Sink& sink, EngineCopy copy = chosen_engine_copy()) {
    return fast_scan(squares_set(p), N, nmin, state, sink, copy);
}

}  // namespace morvane
