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
//
// This header declares the scan; its loops are in fast_scan_loops.hpp, compiled
// once for each profile in the library (core/instances/), so that a program or
// test that runs a scan does not compile them again.
#pragma once

#include <cstdint>
#include <type_traits>

#include "engine/engine_copy.hpp"
#include "engine/excess_bounds.hpp"
#include "arith/fixed_point.hpp"
#include "engine/q_sieve.hpp"
#include "engine/record_sink.hpp"
#include "engine/scan_state.hpp"
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
             std::int64_t x_reach = std::int64_t{1} << (20 + unit_bits));
    // morvane's and morvane-l's sets: the squares of the primes up to p.
    FastScan(std::int32_t p, std::uint64_t last,
             std::int64_t x_reach = std::int64_t{1} << (20 + unit_bits))
        : FastScan(squares_set(p), last, x_reach) {}

    // Scans n = first..last (1 <= first <= last, last no more than at
    // construction) with state.count = C(first - 1), in the copy of the loops
    // chosen for this process. Returns false as soon as the sink fails to write.
    bool scan(std::uint64_t first, std::uint64_t last, ScanState<Profile>& state,
              RecordSink<Profile> sink) {
        return scan_with(chosen_engine_copy(), first, last, state, sink);
    }

    // The same in the given copy, which must run here (engine_copy_runs).
    bool scan_with(EngineCopy copy, std::uint64_t first, std::uint64_t last,
                   ScanState<Profile>& state, RecordSink<Profile> sink);

private:
    // X to units of 2^-32 is a fixed shift.
    static constexpr int scale = Density::scale;
    static constexpr int shift = scale - unit_bits;
    using u128 = unsigned __int128;
    using Sink = const RecordSink<Profile>;

    // Where the word loop stands in the current block.
    struct Block {
        std::uint64_t n0;     // its first n
        std::uint64_t count;  // C(n0 - 1)
        u128 x_scaled;        // X(n0 - 1), modulo 2^128
        std::int64_t a;       // x there in units, rounded down (0 for every_bit)
        bool every_bit;       // |x| beyond x_limit_: the fixed point is not trusted
    };

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

    // The block loop, once for each copy: baseline, x86-64-v3, x86-64-v4 (the
    // last two with the target attributes of their own functions, never of a
    // whole file, so that nothing they inline leaks into baseline callers).
    // Runs: with the search for record runs (q_runs.hpp), morvane-x's alone.
    template <EngineCopy Copy, bool Runs>
    [[gnu::always_inline]] inline bool scan_body(std::uint64_t first, std::uint64_t last,
                                                 ScanState<Profile>& state, Sink& sink);
    template <bool Runs>
    bool scan_copy(EngineCopy copy, std::uint64_t first, std::uint64_t last,
                   ScanState<Profile>& state, Sink& sink);
    template <bool Runs>
    [[gnu::target("arch=x86-64-v3")]] bool scan_v3(std::uint64_t first, std::uint64_t last,
                                                   ScanState<Profile>& state, Sink& sink);
    // The v4 copy's plain loops (the sieve's) are vectorised at the full width of
    // AVX-512; clang (the fuzz targets) has no such option in the attribute.
    template <bool Runs>
#if defined(__clang__)
    [[gnu::target("arch=x86-64-v4,avx512vpopcntdq")]]
#else
    [[gnu::target("arch=x86-64-v4,avx512vpopcntdq,prefer-vector-width=512")]]
#endif
    bool scan_v4(std::uint64_t first, std::uint64_t last, ScanState<Profile>& state, Sink& sink);

    // The full words of a block for p >= 11: the first test, the quarter bounds
    // of the words the gate passes, the slow path.
    template <EngineCopy Copy, class Probe>
    [[gnu::always_inline]] inline bool gated_words(const Block& block, Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                     const std::uint64_t* flags, std::uint64_t full_words, FirstTest& first_test,
                     std::uint64_t& block_q, Probe& probe);

    // The same as the scan's loops call it: with Runs, the run search's byte
    // test takes the gate's vectors where the copy has them (hint); the words
    // of the block from `words` on are clear.
    template <EngineCopy Copy, bool Runs>
    [[gnu::always_inline]] inline bool gated_block(const Block& block, Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                     const std::uint64_t* flags, std::uint64_t full_words, std::uint64_t words,
                     FirstTest& first_test, std::uint64_t& block_q, RunHint& hint);

    // The full words of a block for p < 11, whose bounds repeat with the period.
    template <EngineCopy Copy>
    [[gnu::always_inline]] inline bool periodic_words(const Block& block, Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                        const std::uint64_t* flags, std::uint64_t full_words,
                        const PeriodicWordBounds& periodic, std::size_t& position,
                        std::uint64_t& block_q);

    // Word w of the block, with `before` Q bits of the block before it, to the
    // slow path.
    template <EngineCopy Copy>
    [[gnu::always_inline]] inline bool settle_at(const Block& block, Cursor& cursor, ScanState<Profile>& state, Sink& sink,
                   std::uint64_t w, std::uint64_t before, std::uint64_t q, std::uint64_t valid,
                   const PeriodicWordBounds* sorted, std::size_t position) const;

    // Where a word lies in its block, as the word loop knows it: the slow path
    // works out the rest (its n and x), so that the loop keeps none of that
    // arithmetic of its own.
    struct WordAt {
        std::uint64_t w, before, q, valid;
        const PeriodicWordBounds* sorted;
        std::size_t position;
    };
    // The word, with x at its start exactly, in units rounded down.
    Word word_of(const Block& block, const WordAt& at) const;

    // The slow path, kept out of the word loop so that the loop stays in
    // registers: one copy for baseline x86-64, one for the vector copies.
    [[gnu::noinline]] bool settle(const Block& block, Cursor& cursor, ScanState<Profile>& state,
                                  Sink& sink, const WordAt& at) const;
    [[gnu::noinline, gnu::target("arch=x86-64-v3")]] bool settle_v3(const Block& block,
                                                                    Cursor& cursor,
                                                                    ScanState<Profile>& state,
                                                                    Sink& sink,
                                                                    const WordAt& at) const;

    // For a set of a short period (p < 11 for squares), one period of the
    // flags in words, from `first` on.
    PeriodicWordBounds periodic_bounds(std::uint64_t first) const;

    // Beyond |x| = 2^20 the fixed-point sums could come near unit_limit; such
    // blocks (none is known to occur) have every n evaluated instead.
    using Sieve = QSieve<typename Profile::Primes>;

    std::int64_t x_limit_;
    PrimeSet set_;
    std::uint64_t last_;
    FixedDelta fixed_;
    WordSettler<Profile> settler_;
};

// Where the profile's excess repeats exactly with some period P (the exact
// excess does, see exact_density.hpp), every excess from first + P on has been
// met already in [first, first + P), so it cannot beat the running extreme:
// the last n that can write a record of a run from first (at least 1) to N is
// first + P - 1, and otherwise N.
//
// The Q flags repeat with P too, and every period holds an F-number (n = 1
// modulo each q^K), so a run is shorter than P. A run that starts from
// first + P on is a copy of one P earlier, as long and not cut at first (the
// n before that one is an F-number or first - 1): no record. A run that starts
// before first + P ends by first + 2P - 3. With the runs, the last n is
// first + 2P - 2, and a run still open there is no record.
template <class Profile>
std::uint64_t last_record_n(const PrimeSet& set, std::uint64_t first, std::uint64_t N,
                            bool runs = false) {
    const std::uint64_t period = Profile::Density::excess_period(set);
    if (period == 0) return N;
    if (runs && period > std::uint64_t{1} << 62) return N;
    const std::uint64_t span = runs ? 2 * period - 1 : period;
    return N - first >= span ? first + span - 1 : N;
}

// The whole run: the count below nmin by inclusion and exclusion, then the
// fast scan from max(nmin, 1) to the last n that can write a record; C(N)
// beyond that is counted without walking. In the copy of the loops chosen for
// this process, or in the one given, which must run here (engine_copy_runs).
template <class Profile>
bool fast_scan(const PrimeSet& set, typename Profile::Count N, typename Profile::Count nmin,
               ScanState<Profile>& state, std::type_identity_t<RecordSink<Profile>> sink,
               EngineCopy copy = chosen_engine_copy());
template <class Profile>
bool fast_scan(std::int32_t p, typename Profile::Count N, typename Profile::Count nmin,
               ScanState<Profile>& state, std::type_identity_t<RecordSink<Profile>> sink,
               EngineCopy copy = chosen_engine_copy()) {
    return fast_scan<Profile>(squares_set(p), N, nmin, state, sink, copy);
}

}  // namespace morvane
