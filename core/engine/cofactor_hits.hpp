// The multiples of the largest powers, found by their cofactor: a multiple
// j q^k of a power with q > cut in [first, last] has j <= last / (cut + 1)^k,
// so instead of looking at every prime up to root_k(last) (5 * 10^7 of them
// for squares at 10^18), the sieve keeps one entry per cofactor j, with the
// next q that puts j q^k in the range.
//
// Any integer q will do, prime or not, as long as q <= p: every prime factor r
// of q is in the set then, and r^k divides each multiple of q^k, so a mark by a
// composite q falls on a Q-number that is marked anyway. So the q of a cofactor
// simply count up. The cut leaves at most 2^12 cofactors, and their marks are
// few (about L / cut^(k - 1) over a range of L n, against 0.001 L from the
// primes below the cut).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "arith/prime_set.hpp"

namespace morvane {

class CofactorHits {
public:
    static constexpr std::uint64_t most_cofactors = std::uint64_t{1} << 12;

    // The q at or below which the primes are looked at one by one for a run up
    // to `last`: the least that leaves at most most_cofactors cofactors, and
    // never below 2^(17 / (k - 1)). Each mark of a cofactor passes a heap
    // (some 100 ns), and the q above a cut c mark about 1 / c^(k - 1) of all
    // n: so at most one n in 2^17, 1 ns per 1000 n, where the primes below
    // the cut mark 0.001 of all n at a few ns each. A run from 1 has then no
    // cofactors below 1.7 * 10^10 (squares); a window far out few marks by them.
    // The primes below the cut cost a division each to set up, and wait far
    // ahead at little cost: at 10^15 a cut at 5 * 10^5 with 2^12 cofactors
    // scans 4.5% faster than one at 1.3 * 10^5 with 2^16, whose heap no
    // longer fits the second-level cache; at 10^18, 1% (a million primes
    // below the cut, set up in some 30 ms).
    static std::uint64_t cut(const PrimeSet& set, std::uint64_t last) {
        const auto least = static_cast<std::uint64_t>(
            std::ceil(std::exp2(17.0 / static_cast<double>(set.k - 1))));
        return std::max(least, integer_root(last / most_cofactors, set.k));
    }

    CofactorHits() = default;

    // The multiples j q^k in [first, last] of every q in (cut, largest].
    CofactorHits(const PrimeSet& set, std::uint64_t cut, std::uint64_t largest,
                 std::uint64_t first, std::uint64_t last)
        : k_(set.k), first_(first), last_(last), largest_(largest) {
        if (cut >= largest) return;
        const std::uint64_t smallest = prime_power(cut + 1, k_);
        if (smallest == 0) return;
        for (std::uint64_t j = 1; j <= last / smallest; ++j) {
            // The least q with j q^k >= first.
            const std::uint64_t q = std::max(cut, first == 0 ? 0 : floor_root((first - 1) / j, k_)) + 1;
            push(j, q);
        }
    }

    bool empty() const { return heap_.empty(); }

    // Calls mark(offset from first) for every multiple at an offset below
    // `end`, in no particular order, and moves each cofactor on.
    template <class Mark>
    void take_before(std::uint64_t end, Mark&& mark) {
        while (!heap_.empty() && heap_.front().offset < end) {
            const Entry e = heap_.front();
            mark(e.offset);
            // The cofactor's next multiple takes the top's place and sinks:
            // one pass down the heap, not a pop and a push.
            if (const auto next = step(e.j, e.q + 1)) {
                sink_top(*next);
            } else {
                std::pop_heap(heap_.begin(), heap_.end(), Later{});
                heap_.pop_back();
            }
        }
    }

private:
    struct Entry {
        std::uint64_t offset;  // of j q^k from first
        std::uint64_t j, q;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const { return a.offset > b.offset; }
    };

    // j with q, when j q^k lies in the range and q <= largest.
    std::optional<Entry> step(std::uint64_t j, std::uint64_t q) const {
        if (q > largest_) return std::nullopt;
        const std::uint64_t power = prime_power(q, k_);
        if (power == 0 || power > last_ / j) return std::nullopt;
        return Entry{j * power - first_, j, q};  // j q^k >= first: q was chosen so
    }

    void push(std::uint64_t j, std::uint64_t q) {
        if (const auto entry = step(j, q)) {
            heap_.push_back(*entry);
            std::push_heap(heap_.begin(), heap_.end(), Later{});
        }
    }

    // Puts e on top in place of the top and lets it sink to its place.
    void sink_top(const Entry& e) {
        const std::size_t size = heap_.size();
        std::size_t at = 0;
        for (;;) {
            std::size_t child = 2 * at + 1;
            if (child >= size) break;
            if (child + 1 < size && heap_[child + 1].offset < heap_[child].offset) ++child;
            if (heap_[child].offset >= e.offset) break;
            heap_[at] = heap_[child];
            at = child;
        }
        heap_[at] = e;
    }

    int k_ = 2;
    std::uint64_t first_ = 0, last_ = 0, largest_ = 0;
    std::vector<Entry> heap_;  // the nearest multiple on top
};

}  // namespace morvane
