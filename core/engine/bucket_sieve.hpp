// The multiples of the large prime powers, q^k above the length of a sieve
// block: each divides fewer than one n of a block, so each is kept, with its
// next multiple, in the bucket of the block that multiple falls in, and looked
// at only there (the bucket sieve of Oliveira e Silva's prime sieves).
//
// The buckets cover the next `horizon_blocks` blocks; a multiple further off
// waits in a heap ordered by position and moves to its bucket once the horizon
// reaches it. So the memory is one entry per prime with a multiple still ahead
// in the scan, never one per multiple: a run to 10^13 keeps the 230,000 primes
// below its square root, a window far out only the primes with a multiple in
// it. Far out, the primes above a cut are not looked at one by one: their
// multiples come by their cofactor (cofactor_hits.hpp).
//
// The sum of 1/q^2 over the primes above 181 is about 0.0011: that many marks
// per n for every prime and k = 2, against 0.4 set by the stored patterns.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/cofactor_hits.hpp"
#include "engine/prime_set.hpp"

namespace morvane {

class BucketSieve {
public:
    static constexpr std::uint64_t block_bits = 32768;
    static constexpr std::uint64_t horizon_blocks = 1024;

    BucketSieve() = default;

    // The powers q^k of the primes of the set from `from` (above the powers
    // marked block by block) up to the last n, for n = first..last.
    template <class Primes>
    BucketSieve(const PrimeSet& set, std::uint64_t from, std::uint64_t first, std::uint64_t last,
                Primes)
        : span_(last - first), buckets_(horizon_blocks) {
        const std::uint64_t largest = largest_needed_prime(set, last);
        if (from > largest) return;
        // The primes up to the cut one by one, the larger q by their cofactor.
        const std::uint64_t cut = std::max(from - 1, CofactorHits::cut(set, last));
        cofactors_ = CofactorHits(set, cut, largest, first, last);
        // A bucket gets block_bits times the sum of 1 / q^k over the primes
        // here, at most 36 for squares from 181 on: room for them at once,
        // rather than growing each bucket anew in every chunk a window is
        // scanned in.
        for (auto& bucket : buckets_) bucket.reserve(48);
        Primes::each(from, std::min(largest, cut), [&](std::uint64_t q) {
            const std::uint64_t m = prime_power(q, set.k);
            // The first multiple at or after first, as an offset from it.
            const std::uint64_t r = first % m, to_next = r == 0 ? 0 : m - r;
            if (to_next <= span_) add({m, to_next});
        });
    }

    bool empty() const { return pending_ == 0 && cofactors_.empty(); }

    // Sets the flags of the next block, `bits` n from its first (bit 0 of
    // words[0]); blocks come in turn, each of block_bits n but the last.
    void mark(std::uint64_t* words, std::uint64_t bits) {
        const std::uint64_t base = block_ * block_bits;
        while (!far_.empty() && far_.front().offset / block_bits < block_ + horizon_blocks) {
            std::pop_heap(far_.begin(), far_.end(), later);
            const Hit hit = far_.back();
            far_.pop_back();
            buckets_[hit.offset / block_bits % horizon_blocks].push_back(hit);
        }
        auto& bucket = buckets_[block_ % horizon_blocks];
        for (const Hit& hit : bucket) {
            const std::uint64_t i = hit.offset - base;
            if (i < bits) words[i / 64] |= std::uint64_t{1} << (i % 64);
            --pending_;
            // The next multiple, unless it lies past the last n (or 2^64).
            if (hit.modulus <= span_ - hit.offset) add({hit.modulus, hit.offset + hit.modulus});
        }
        bucket.clear();
        cofactors_.take_before(base + bits, [&](std::uint64_t offset) {
            const std::uint64_t i = offset - base;
            words[i / 64] |= std::uint64_t{1} << (i % 64);
        });
        ++block_;
    }

private:
    struct Hit {
        std::uint64_t modulus;
        std::uint64_t offset;  // of the multiple, from the first n
    };
    static bool later(const Hit& a, const Hit& b) { return a.offset > b.offset; }

    // The modulus exceeds a block, so a multiple never goes back into the
    // bucket being emptied.
    void add(const Hit& hit) {
        ++pending_;
        if (hit.offset / block_bits < block_ + horizon_blocks) {
            buckets_[hit.offset / block_bits % horizon_blocks].push_back(hit);
        } else {
            far_.push_back(hit);
            std::push_heap(far_.begin(), far_.end(), later);
        }
    }

    std::uint64_t span_ = 0;    // last - first
    std::uint64_t block_ = 0;   // the next block, counted from first
    std::uint64_t pending_ = 0;
    std::vector<std::vector<Hit>> buckets_;
    std::vector<Hit> far_;  // a heap, the nearest multiple on top
    CofactorHits cofactors_;
};

}  // namespace morvane
