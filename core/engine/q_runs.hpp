// Runs of consecutive Q-numbers, and the record runs among them: a run longer
// than every run before it. For every prime with power K, a run of L
// Q-numbers is a gap of L + 1 between consecutive K-free numbers.
//
// Runs are cut to the scan: a run that began before its first n counts from
// there, and the caller closes the one still open at its last n
// (finish_runs). The plain scan takes one n at a time (run_step); the fast
// scan takes a block of flag words at a time (block_runs): the run open at the
// block's start first, then only the words where a run long enough to be a
// record may lie (run_filter.hpp says which), then the run open at its end.
// Every run in the other words is shorter than the record at the block's
// start, and records only grow.
#pragma once

#include <bit>
#include <cstdint>

#include "engine/engine_copy.hpp"
#include "engine/run_filter.hpp"

namespace morvane {

// A sink that takes the record runs, and so asks a scan to find them.
template <class Sink>
concept TakesRuns = requires(Sink& sink, std::uint64_t n) { sink.run_record(n, n); };

// What the scan's word loop learnt of a block before its run search: nothing,
// or the answer of the byte test for runs that beat the record before the
// block (RunProbeAvx2, RunProbeAvx512).
enum class RunHint { untested, none, some };

struct QRuns {
    // Q-numbers at the end of what has been scanned: the run still open.
    std::uint64_t open = 0;
    // The longest run closed so far.
    std::uint64_t longest = 0;
};

// The open run ends before n (an F-number, or the end of the scan); a record
// goes to the sink. False when the sink fails to write.
template <class Sink>
bool close_run(QRuns& runs, std::uint64_t n, Sink& sink) {
    const std::uint64_t length = runs.open;
    runs.open = 0;
    if (length <= runs.longest) return true;
    runs.longest = length;
    return sink.run_record(n - length, length);
}

// n, a Q-number or not, follows what has been scanned.
template <class Sink>
bool run_step(QRuns& runs, std::uint64_t n, bool q, Sink& sink) {
    if (q) return ++runs.open, true;
    return runs.open == 0 || close_run(runs, n, sink);
}

// The scan ended at `last`: the run open there counts to it.
template <class Sink>
bool finish_runs(QRuns& runs, std::uint64_t last, Sink& sink) {
    return runs.open == 0 || close_run(runs, last + 1, sink);
}

namespace detail {

// A block's flags for the run search: `words` words, bits at and past `bits`
// clear, and one more word, clear, after them.
struct RunBlock {
    const std::uint64_t* flags;
    std::uint64_t bits, words;
    std::uint64_t n0;  // the n of bit 0

    // Q bits from bit b on, before the first F bit (or the block's end).
    std::uint64_t ones_from(std::uint64_t b) const {
        std::uint64_t w = b / 64, length = std::countr_one(flags[w] >> (b % 64));
        if (b % 64 + length < 64) return length;
        length = 64 - b % 64;
        for (++w; w < words; ++w) {
            const int more = std::countr_one(flags[w]);
            length += more;
            if (more < 64) break;
        }
        return length;
    }
    // Q bits just before bit b (b >= 1), back to the first F bit or the block's start.
    std::uint64_t ones_before(std::uint64_t b) const {
        std::uint64_t w = (b - 1) / 64, length = std::countl_one(flags[w] << (63 - (b - 1) % 64));
        if (length <= (b - 1) % 64) return length;
        while (w-- > 0) {
            const int more = std::countl_one(flags[w]);
            length += more;
            if (more < 64) break;
        }
        return length;
    }
};

// The runs that meet word w and end in the block, from bit `done` on (the bits
// before it are settled): each closed, a record to the sink. Returns the bit
// after the last run it closed, or `done`; bits == failed when the sink fails.
template <class Sink>
std::uint64_t runs_in_word(const RunBlock& block, std::uint64_t w, std::uint64_t done,
                           QRuns& runs, Sink& sink, bool& failed) {
    const std::uint64_t base = 64 * w;
    if (done >= base + 64) return done;
    std::uint64_t rest = block.flags[w];
    if (done > base) rest &= ~std::uint64_t{0} << (done - base);
    while (rest) {
        const std::uint64_t start_bit = base + std::countr_zero(rest);
        const std::uint64_t start = start_bit > done ? start_bit - block.ones_before(start_bit)
                                                     : start_bit;
        const std::uint64_t end = start_bit + block.ones_from(start_bit);
        if (end == block.bits) return done;  // still open at the block's end
        runs.open = end - start;
        if (!close_run(runs, block.n0 + end, sink)) {
            failed = true;
            return done;
        }
        done = end;
        if (end >= base + 64) break;
        rest &= ~std::uint64_t{0} << (end - base);
    }
    return done;
}

// The groups of eight words where a run that beats the record may lie, in
// the given copy of the loops.
template <EngineCopy Copy>
[[gnu::always_inline]] inline std::uint64_t long_run_groups(const RunBlock& block,
                                                            const RunFilter& filter,
                                                            RunHint hint) {
    if (hint == RunHint::none) return 0;
    const bool tested = hint == RunHint::some;
#if defined(__x86_64__)
    if constexpr (Copy == EngineCopy::v4) {
        if (!tested && !may_hold_run_avx512(block.flags, block.words, filter)) return 0;
        return run_groups_avx512<false>(block.flags, block.words, filter);
    } else if constexpr (Copy == EngineCopy::v3) {
        if (!tested && !may_hold_run_avx2(block.flags, block.words, filter)) return 0;
        return run_groups_avx2<false>(block.flags, block.words, filter);
    }
#endif
    if (!tested && !run_groups<true>(block.flags, block.words, filter)) return 0;
    return run_groups<false>(block.flags, block.words, filter);
}

}  // namespace detail

// The runs of one block of the fast scan, which follows what has been
// scanned: flags[0 .. words) for n0 onwards, the bits at and past `bits`
// clear, and flags[words] clear. False when the sink fails to write.
template <EngineCopy Copy, class Sink>
[[gnu::always_inline]] inline bool block_runs(const std::uint64_t* flags, std::uint64_t bits,
                                              std::uint64_t n0, QRuns& runs, Sink& sink,
                                              RunHint hint) {
    const detail::RunBlock block{flags, bits, (bits + 63) / 64, n0};
    std::uint64_t done = 0;  // bits before it are settled
    if (runs.open > 0) {
        const std::uint64_t lead = block.ones_from(0);
        runs.open += lead;
        if (lead == bits) return true;
        if (!close_run(runs, n0 + lead, sink)) return false;
        done = lead;
    }
    // A record is at least one longer than the longest run.
    const RunFilter filter(runs.longest + 1);
    bool failed = false;
    for (std::uint64_t groups = detail::long_run_groups<Copy>(block, filter, hint); groups && !failed;
         groups &= groups - 1) {
        const std::uint64_t g = std::countr_zero(groups);
        for (std::uint64_t w = 8 * g; w < 8 * g + 8 && w < block.words && !failed; ++w)
            if (word_may_hold_run(flags, w, filter))
                done = detail::runs_in_word(block, w, done, runs, sink, failed);
    }
    if (failed) return false;
    runs.open = flags[(bits - 1) / 64] >> ((bits - 1) % 64) & 1 ? block.ones_before(bits) : 0;
    return true;
}

// block_runs out of line, one function for each copy with its instruction
// set: inlined, its code makes the scan's block loop too large for the
// compiler to inline the gate's word loop into it (morvane-x -r all ran 17%
// slower so). Called once a block.
template <class Sink>
[[gnu::noinline]] bool block_runs_baseline(const std::uint64_t* flags, std::uint64_t bits,
                                           std::uint64_t n0, QRuns& runs, Sink& sink,
                                           RunHint hint) {
    return block_runs<EngineCopy::baseline>(flags, bits, n0, runs, sink, hint);
}
#if defined(__x86_64__)
template <class Sink>
[[gnu::noinline, gnu::target("arch=x86-64-v3")]] bool block_runs_v3(
    const std::uint64_t* flags, std::uint64_t bits, std::uint64_t n0, QRuns& runs, Sink& sink,
    RunHint hint) {
    return block_runs<EngineCopy::v3>(flags, bits, n0, runs, sink, hint);
}
template <class Sink>
[[gnu::noinline, gnu::target("arch=x86-64-v4,avx512vpopcntdq")]] bool block_runs_v4(
    const std::uint64_t* flags, std::uint64_t bits, std::uint64_t n0, QRuns& runs, Sink& sink,
    RunHint hint) {
    return block_runs<EngineCopy::v4>(flags, bits, n0, runs, sink, hint);
}
#endif

template <EngineCopy Copy, class Sink>
bool block_runs_of(const std::uint64_t* flags, std::uint64_t bits, std::uint64_t n0, QRuns& runs,
                   Sink& sink, RunHint hint = RunHint::untested) {
#if defined(__x86_64__)
    if constexpr (Copy == EngineCopy::v4) return block_runs_v4(flags, bits, n0, runs, sink, hint);
    if constexpr (Copy == EngineCopy::v3) return block_runs_v3(flags, bits, n0, runs, sink, hint);
#endif
    return block_runs_baseline(flags, bits, n0, runs, sink, hint);
}

}  // namespace morvane
