// The fast scan's loops (fast_scan.hpp declares them), compiled once for each
// profile by the library's instances (core/instances/): nothing else includes
// this file.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <numeric>
#include <vector>

#include "engine/fast_scan.hpp"
#include "engine/q_count.hpp"
#include "engine/word_filter.hpp"
#include "engine/word_gate.hpp"

namespace morvane {

template <class Profile>
FastScan<Profile>::FastScan(const PrimeSet& set, std::uint64_t last, std::int64_t x_reach)
    : x_limit_(x_reach),
      set_(set),
      last_(last),
      fixed_(Density(set).fixed(last)),
      settler_(set, fixed_) {}

// The loops with the run search are a copy of their own: its code in the
// block loop costs the word loops registers (morvane-x 97 without -r ran 12%
// slower with it), so only a run that asks for runs carries it.
template <class Profile>
bool FastScan<Profile>::scan_with(EngineCopy copy, std::uint64_t first, std::uint64_t last,
                                  ScanState<Profile>& state, RecordSink<Profile> sink) {
    if constexpr (Profile::any_set)
        if (sink.counts_runs()) return scan_copy<true>(copy, first, last, state, sink);
    return scan_copy<false>(copy, first, last, state, sink);
}

template <class Profile>
template <bool Runs>
bool FastScan<Profile>::scan_copy(EngineCopy copy, std::uint64_t first, std::uint64_t last,
                                  ScanState<Profile>& state, Sink& sink) {
#if defined(__x86_64__) && !defined(MORVANE_PORTABLE)
    if (copy == EngineCopy::v4) return scan_v4<Runs>(first, last, state, sink);
    if (copy == EngineCopy::v3) return scan_v3<Runs>(first, last, state, sink);
#endif
    (void)copy;
    return scan_body<EngineCopy::baseline, Runs>(first, last, state, sink);
}

template <class Profile>
template <bool Runs>
bool FastScan<Profile>::scan_v3(std::uint64_t first, std::uint64_t last,
                                ScanState<Profile>& state, Sink& sink) {
    return scan_body<EngineCopy::v3, Runs>(first, last, state, sink);
}

template <class Profile>
template <bool Runs>
bool FastScan<Profile>::scan_v4(std::uint64_t first, std::uint64_t last,
                                ScanState<Profile>& state, Sink& sink) {
    return scan_body<EngineCopy::v4, Runs>(first, last, state, sink);
}

template <class Profile>
template <EngineCopy Copy>
inline bool FastScan<Profile>::settle_at(
    const Block& block, Cursor& cursor, ScanState<Profile>& state, Sink& sink, std::uint64_t w,
    std::uint64_t before, std::uint64_t q, std::uint64_t valid, const PeriodicWordBounds* sorted,
    std::size_t position) const {
    const WordAt at{w, before, q, valid, sorted, position};
    if constexpr (Copy == EngineCopy::baseline)
        return settle(block, cursor, state, sink, at);
    else
        return settle_v3(block, cursor, state, sink, at);
}

template <class Profile>
inline Word FastScan<Profile>::word_of(const Block& block, const WordAt& at) const {
    const u128 x_word =
        block.x_scaled + (u128(at.before) << scale) - u128(fixed_.significand) * (64 * at.w);
    const auto x =
        block.every_bit ? 0 : static_cast<std::int64_t>(static_cast<__int128>(x_word) >> shift);
    return Word{block.n0 + 64 * at.w, at.q, at.valid, x, block.every_bit ? nullptr : at.sorted,
                at.position, block.every_bit};
}

template <class Profile>
bool FastScan<Profile>::settle(const Block& block, Cursor& cursor, ScanState<Profile>& state,
                               Sink& sink, const WordAt& at) const {
    cursor.count = block.count + at.before;
    return settler_.settle(cursor, state, sink, word_of(block, at));
}

template <class Profile>
bool FastScan<Profile>::settle_v3(const Block& block, Cursor& cursor, ScanState<Profile>& state,
                                  Sink& sink, const WordAt& at) const {
    cursor.count = block.count + at.before;
    return settler_.settle(cursor, state, sink, word_of(block, at));
}

template <class Profile>
PeriodicWordBounds FastScan<Profile>::periodic_bounds(std::uint64_t first) const {
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

template <class Profile>
template <EngineCopy Copy, class Probe>
inline bool FastScan<Profile>::gated_words(const Block& block, Cursor& cursor,
                                           ScanState<Profile>& state, Sink& sink,
                                           const std::uint64_t* flags, std::uint64_t full_words,
                                           FirstTest& first_test, std::uint64_t& block_q,
                                           Probe& probe) {
    const WordFilter filter{fixed_.delta_lo, fixed_.delta_hi, cursor.tq - block.a,
                            cursor.tf - block.a};
    std::array<std::uint64_t, block_bits / 64 / 64> marks{};
    std::array<std::uint64_t, block_bits / 64> before;
    bool gate = first_test.quarter_blocks == 0;
    if (gate) {
#if defined(__x86_64__)
        if constexpr (Copy == EngineCopy::v4)
            block_q =
                gate_words_avx512(flags, full_words, filter, marks.data(), before.data(), probe);
        else if constexpr (Copy == EngineCopy::v3)
            block_q =
                gate_words_avx2(flags, full_words, filter, marks.data(), before.data(), probe);
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
template <EngineCopy Copy, bool Runs>
inline bool FastScan<Profile>::gated_block(const Block& block, Cursor& cursor,
                                           ScanState<Profile>& state, Sink& sink,
                                           const std::uint64_t* flags, std::uint64_t full_words,
                                           std::uint64_t words, FirstTest& first_test,
                                           std::uint64_t& block_q, RunHint& hint) {
#if defined(__x86_64__)
    if constexpr (Runs && Copy != EngineCopy::baseline) {
        // The test for runs that beat the record before the block: the record
        // can only grow at its start, so a block without them has none that
        // beats the record there either.
        const RunFilter filter(state.runs.longest + 1);
        if (filter.step == 4 || filter.step == 8) {
            using Probe =
                std::conditional_t<Copy == EngineCopy::v4, RunProbeAvx512, RunProbeAvx2>;
            Probe probe(filter);
            if (!gated_words<Copy>(block, cursor, state, sink, flags, full_words, first_test,
                                   block_q, probe))
                return false;
            // Blocks of the quarter bounds feed it nothing.
            constexpr std::uint64_t width = Copy == EngineCopy::v4 ? 8 : 4;
            if (probe.fed == full_words / width * width)
                hint = probe.passes(flags, words, filter) ? RunHint::some : RunHint::none;
            return true;
        }
    }
#endif
    (void)words, (void)hint;
    NoProbe probe;
    return gated_words<Copy>(block, cursor, state, sink, flags, full_words, first_test, block_q,
                             probe);
}

template <class Profile>
template <EngineCopy Copy>
inline bool FastScan<Profile>::periodic_words(const Block& block, Cursor& cursor,
                                              ScanState<Profile>& state, Sink& sink,
                                              const std::uint64_t* flags, std::uint64_t full_words,
                                              const PeriodicWordBounds& periodic,
                                              std::size_t& position, std::uint64_t& block_q) {
    // x at each word's start, in units, lies in [x_lo, x_hi + 1): from a, with
    // delta * 2^32 taken rounded up for x_lo and down for x_hi. They part by at
    // most one unit per n of the block and coincide when the fixed point is exact.
    const PeriodicWordBounds* sorted = periodic.has_sorted() ? &periodic : nullptr;
    // The loop's values in locals, and the rare block where every word settles
    // in a loop of its own: settle_at is a call the compiler cannot see into,
    // and the fewer values the word loop keeps, the fewer it reads back from
    // memory in each word (p = 2 and 3 test nearly every word).
    std::size_t at = position;
    std::uint64_t q_so_far = 0;
    if (block.every_bit) {
        for (std::uint64_t w = 0; w < full_words; ++w) {
            if (!settle_at<Copy>(block, cursor, state, sink, w, q_so_far, flags[w], ~0ull, sorted,
                                 at))
                return false;
            if (++at == periodic.size()) at = 0;
            q_so_far += std::popcount(flags[w]);
        }
    } else {
        const std::int64_t step_lo = 64 * fixed_.delta_lo, step_hi = 64 * fixed_.delta_hi;
        std::int64_t x_hi = block.a, x_lo = block.a;
        for (std::uint64_t w = 0; w < full_words; ++w) {
            const std::uint64_t q = flags[w];
            if ((x_hi + periodic.q_peak(at) > cursor.tq || x_lo + periodic.f_trough(at) < cursor.tf) &&
                !settle_at<Copy>(block, cursor, state, sink, w, q_so_far, q, ~0ull, sorted, at))
                return false;
            if (++at == periodic.size()) at = 0;
            const int pc = std::popcount(q);
            q_so_far += pc;
            x_hi += pc * unit - step_lo;
            x_lo += pc * unit - step_hi;
        }
    }
    position = at;
    block_q = q_so_far;
    return true;
}

template <class Profile>
template <EngineCopy Copy, bool Runs>
inline bool FastScan<Profile>::scan_body(std::uint64_t first, std::uint64_t last,
                                         ScanState<Profile>& state, Sink& sink) {
    Sieve sieve(set_, first, last);
    const PeriodicWordBounds periodic = periodic_bounds(first);
    std::size_t position = 0;  // of the next full word in the period
    FirstTest first_test;

    Cursor cursor{state.count, settler_.q_threshold(state.maxQ), settler_.f_threshold(state.minE)};
    Block block{first, cursor.count,
                (u128(cursor.count) << scale) - u128(fixed_.significand) * (first - 1), 0, false};
    // One word more for the run search, which reads past the last.
    std::array<std::uint64_t, block_bits / 64 + 1> flags;
    for (;;) {
        const std::uint64_t remaining = last - block.n0 + 1;  // >= 1, and fits: n0 >= 1
        const std::uint64_t bits = std::min(block_bits, remaining);
        sieve.fill(flags.data(), bits);
        const std::uint64_t words = (bits + 63) / 64;
        if constexpr (Runs) {
            if (bits % 64) flags[words - 1] &= (std::uint64_t{1} << bits % 64) - 1;
            flags[words] = 0;
        }
        const std::uint64_t full_words = bits / 64;
        const __int128 x_units = static_cast<__int128>(block.x_scaled) >> shift;
        block.every_bit = x_units >= x_limit_ || x_units <= -x_limit_;
        block.a = block.every_bit ? 0 : static_cast<std::int64_t>(x_units);

        std::uint64_t block_q = 0;  // Q bits of the block's full words
        RunHint hint = RunHint::untested;
        const bool words_done =
            periodic.empty()
                ? gated_block<Copy, Runs>(block, cursor, state, sink, flags.data(), full_words,
                                          words, first_test, block_q, hint)
                : periodic_words<Copy>(block, cursor, state, sink, flags.data(), full_words,
                                       periodic, position, block_q);
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
        if constexpr (Runs)
            if (!block_runs_of<Copy>(flags.data(), bits, block.n0, state.runs, sink, hint))
                return false;
        if (bits == remaining) break;
        block.x_scaled +=
            (u128(cursor.count - block.count) << scale) - u128(fixed_.significand) * bits;
        block.count = cursor.count;
        block.n0 += bits;
    }
    state.count = static_cast<Count>(cursor.count);
    return true;
}

template <class Profile>
bool fast_scan(const PrimeSet& set, typename Profile::Count N, typename Profile::Count nmin,
               ScanState<Profile>& state, std::type_identity_t<RecordSink<Profile>> sink,
               EngineCopy copy) {
    using Count = typename Profile::Count;
    const std::uint64_t first = nmin > 1 ? nmin : 1;
    const std::uint64_t last = last_record_n<Profile>(set, first, N, sink.counts_runs());
    const bool cut = last != N;
    FastScan<Profile> engine(set, last);
    state.count = static_cast<Count>(count_q_numbers(first - 1, set));
    if (!engine.scan_with(copy, first, last, state, sink)) return false;
    if (cut) {
        state.count = static_cast<Count>(count_q_numbers(N, set));
        // The run open at the cut has met its equal a period before.
        state.runs.open = 0;
        return true;
    }
    return !sink.counts_runs() || finish_runs(state.runs, last, sink);
}

}  // namespace morvane
