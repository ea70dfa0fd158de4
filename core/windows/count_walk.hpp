// C(n), the number of Q-numbers in [1, n], at ascending n, counted afresh for
// the checks of record files and windows: from nothing but n and the set,
// never from the engine's sieve or a file's own counts.
//
// The walk sieves blocks of 2^15 n. A block that holds a looked-up n is marked
// in full and its counts summed once, so the records bunched at a window's
// start cost one block between them. The blocks after it are sieved in turn,
// as far as that has cost less than a count afresh, which starts the walk
// again at a block further on (both are exact).
//
// Marking needs every q^k <= n with q <= p. Any integer q >= 2 up to p will
// do, prime or not: a prime factor r of q is in the set too, and r^k divides
// every multiple of q^k. The powers below 64 (4, 9, 25, 49; 8, 27; ...) mark a
// word at a time, the others below a block's length one multiple at a time;
// the larger ones wait in a heap at their next multiple: each prime up to a
// cut Q0, and beyond the cut each cofactor j, whose multiples j q^k come as q
// counts up (j <= end / (Q0 + 1)^k). The cut makes a start cost few
// divisions: about 2^10 cofactors, never more primes than those below 2^22.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <vector>

#include "engine/mobius_count.hpp"
#include "arith/prime_set.hpp"

namespace morvane {

namespace detail {

// The primes up to `limit` by a plain sieve of Eratosthenes: the walk's own.
inline std::vector<std::uint32_t> walk_primes(std::uint32_t limit) {
    std::vector<bool> composite(std::size_t{limit} + 1, false);
    std::vector<std::uint32_t> primes;
    for (std::uint64_t i = 2; i <= limit; ++i) {
        if (composite[i]) continue;
        primes.push_back(static_cast<std::uint32_t>(i));
        for (std::uint64_t j = i * i; j <= limit; j += i) composite[j] = true;
    }
    return primes;
}

// x - C(x) by inclusion and exclusion, one prime at a time: the numbers up to
// x divisible by the last power s are s * m with m divisible by none of the
// others (the powers are coprime), so
//     F(x, j) = x - sum over i < j of F(floor(x / s_i), i),
// nested divisions, never a product of powers.
inline std::uint64_t free_count_nested(std::uint64_t x, const std::uint64_t* powers, int count) {
    std::uint64_t free = x;
    for (int j = 0; j < count; ++j) {
        if (powers[j] > x) break;  // powers ascend: no later one divides a number up to x
        free -= free_count_nested(x / powers[j], powers, j);
    }
    return free;
}

}  // namespace detail

// C(x) for the set counted afresh. A finite set whose primes up to root_k(x)
// lie below 2^16 goes by nested divisions over the walk's own primes; every
// prime and larger sets by the sum of mu(d) floor(x / d^k) with the Mertens
// function (mobius_count.hpp), the one way that is fast there, which the tests
// hold against published counts and an independent reference.
inline std::uint64_t q_count_afresh(std::uint64_t x, const PrimeSet& set) {
    const std::uint64_t largest = largest_needed_prime(set, x);
    if (set.all() || largest >= (std::uint64_t{1} << 16)) return x - free_count_sieved(x, set);
    std::vector<std::uint64_t> powers;
    for (const std::uint32_t q : detail::walk_primes(static_cast<std::uint32_t>(largest)))
        powers.push_back(prime_power(q, set.k));
    return x - detail::free_count_nested(x, powers.data(), static_cast<int>(powers.size()));
}

class CountWalk {
public:
    static constexpr std::uint64_t block = std::uint64_t{1} << 15;
    // The primes up to this are kept one by one; larger q by their cofactor.
    static constexpr std::uint64_t cofactor_cut = std::uint64_t{1} << 22;
    // About how many cofactors a start takes on, when that keeps the cut at
    // or above a block and at or below cofactor_cut.
    static constexpr std::uint64_t cofactors = std::uint64_t{1} << 10;
    // At most how far a walk goes from where it started before it starts again.
    static constexpr std::uint64_t reach = std::uint64_t{1} << 36;

    explicit CountWalk(const PrimeSet& set) : set_(set) {}

    // C(n). Ascending n cost least; an n below the block before is counted
    // afresh.
    std::uint64_t at(std::uint64_t n) {
        go_to(n);
        const std::uint64_t i = n - first_;
        if (!summed_) sum_words();
        const std::uint64_t below = words_[i / 64] & (~std::uint64_t{0} >> (63 - i % 64));
        return before_ + sums_[i / 64] + static_cast<std::uint64_t>(std::popcount(below));
    }

    // Whether n is a Q-number.
    bool is_q_number(std::uint64_t n) {
        go_to(n);
        const std::uint64_t i = n - first_;
        return (words_[i / 64] >> (i % 64) & 1) != 0;
    }

private:
    using Clock = std::chrono::steady_clock;

    static double seconds_since(Clock::time_point start) {
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // Makes n's block the walk's: sieving the blocks on the way, or starting
    // again there when that has been cheaper.
    void go_to(std::uint64_t n) {
        const std::uint64_t target = n / block;
        if (started_ && target == index_) return;
        const bool ahead = started_ && target > index_ && target <= end_ / block;
        if (ahead && double(target - index_) * block_seconds_ <= afresh_seconds_) {
            while (index_ != target) {
                const auto start = Clock::now();
                before_ += block_total();
                sieve(index_ + 1);
                const double took = seconds_since(start);
                block_seconds_ = block_seconds_ == 0 ? took : 0.75 * block_seconds_ + 0.25 * took;
            }
            return;
        }
        const auto start = Clock::now();
        start_at(target);
        afresh_seconds_ = std::max(afresh_seconds_, seconds_since(start));
        started_ = true;
    }

    // C below block `index` counted afresh, and the sieve set up from there.
    void start_at(std::uint64_t index) {
        const std::uint64_t first = index * block;
        before_ = first == 0 ? 0 : q_count_afresh(first - 1, set_);
        // As far as the walk can go from here before it starts again: about
        // as far again as it has come, and no further than `reach`, so that a
        // start near 1 needs few primes.
        const std::uint64_t ahead = std::clamp(first, 64 * block, reach);
        const std::uint64_t end =
            ~std::uint64_t{0} - first < ahead ? ~std::uint64_t{0} : first + ahead - 1;
        end_ = end;
        largest_ = largest_needed_prime(set_, end);
        const std::uint64_t cut = std::min(
            largest_, std::clamp(floor_root(end / cofactors, set_.k), block, cofactor_cut));
        if (primes_limit_ < cut) {  // the walk's own primes, kept from start to start
            primes_limit_ = std::max(cut, std::min(4 * primes_limit_, cofactor_cut));
            primes_ = detail::walk_primes(static_cast<std::uint32_t>(primes_limit_));
        }
        tiny_.clear();
        small_.clear();
        far_.clear();
        for (const std::uint32_t q : primes_) {
            if (q > cut) break;
            const std::uint64_t s = prime_power(q, set_.k);
            // The first multiple at or after first (none past 2^64 - 1).
            const std::uint64_t offset = (s - first % s) % s;
            if (s < 64) {
                tiny_.push_back({s, offset});
            } else if (s < block) {
                small_.push_back({s, offset});
            } else if (offset <= end - first) {
                far_.push_back({first + offset, s, 0});
            }
        }
        std::make_heap(far_.begin(), far_.end(), Later{});
        // Beyond the cut, cofactor j with the least q > cut that puts j q^k at
        // or after first.
        if (largest_ > cut)
            for (std::uint64_t j = 1; j <= end / prime_power(cut + 1, set_.k); ++j) {
                const std::uint64_t low = first == 0 ? 0 : floor_root((first - 1) / j, set_.k);
                push_cofactor(j, std::max(low, cut) + 1);
            }
        sieve(index);
    }

    // Marks the Q-numbers of block `index`: the one after the last, or the
    // first after a start.
    void sieve(std::uint64_t index) {
        index_ = index;
        first_ = index * block;
        words_.fill(0);
        summed_ = false;
        for (auto& power : tiny_) mark_tiny(power);
        for (auto& power : small_) {
            std::uint64_t i = power.offset;
            for (; i < block; i += power.modulus) words_[i / 64] |= std::uint64_t{1} << (i % 64);
            power.offset = i - block;
        }
        const std::uint64_t last = first_ + (block - 1);  // blocks are aligned: below 2^64
        while (!far_.empty() && far_.front().next <= last) {
            std::pop_heap(far_.begin(), far_.end(), Later{});
            Far f = far_.back();
            far_.pop_back();
            const std::uint64_t i = f.next - first_;
            words_[i / 64] |= std::uint64_t{1} << (i % 64);
            if (f.q == 0) {  // a prime's power: its next multiple
                if (f.modulus <= end_ - f.next) push_far({f.next + f.modulus, f.modulus, 0});
            } else {  // a cofactor: the next q
                push_cofactor(f.modulus, f.q + 1);
            }
        }
        if (first_ == 0) words_[0] &= ~std::uint64_t{1};  // 0 is no n of a run
    }

    void sum_words() {
        std::uint32_t running = 0;
        for (std::size_t w = 0; w < words_.size(); ++w) {
            sums_[w] = running;
            running += static_cast<std::uint32_t>(std::popcount(words_[w]));
        }
        summed_ = true;
    }

    std::uint64_t block_total() const {
        std::uint64_t total = 0;
        for (const std::uint64_t w : words_) total += static_cast<std::uint64_t>(std::popcount(w));
        return total;
    }

    struct Small {
        std::uint64_t modulus;
        std::uint64_t offset;  // of the next multiple from the next block's first n
    };
    struct Far {
        std::uint64_t next;     // the next multiple
        std::uint64_t modulus;  // q^k of a prime; for a cofactor, j
        std::uint64_t q;        // a cofactor's q; 0 for a prime's power
    };
    struct Later {
        bool operator()(const Far& a, const Far& b) const { return a.next > b.next; }
    };

    void push_far(const Far& f) {
        far_.push_back(f);
        std::push_heap(far_.begin(), far_.end(), Later{});
    }

    // A power s < 64 marked a word at a time: its multiples in a word are the
    // bits of `pattern` (0, s, 2s, ... below 64) shifted up by the offset of
    // the first, which is below s; the next word's first lies 64 mod s
    // further back in the period.
    void mark_tiny(Small& power) {
        const std::uint64_t s = power.modulus, back = 64 % s;
        std::uint64_t pattern = 0;
        for (std::uint64_t i = 0; i < 64; i += s) pattern |= std::uint64_t{1} << i;
        std::uint64_t offset = power.offset;
        for (auto& word : words_) {
            word |= pattern << offset;
            offset = offset >= back ? offset - back : offset + s - back;
        }
        power.offset = offset;
    }

    // j q^k, unless it passes the reach or q the largest prime needed.
    void push_cofactor(std::uint64_t j, std::uint64_t q) {
        const std::uint64_t power = prime_power(q, set_.k);
        if (q > largest_ || power == 0 || power > end_ / j) return;
        push_far({j * power, j, q});
    }

    PrimeSet set_;
    bool started_ = false;
    std::uint64_t index_ = 0, first_ = 0;  // the block's index and first n
    std::uint64_t end_ = 0, largest_ = 0;  // the reach's last n and its largest prime
    std::uint64_t before_ = 0;             // C(first_ - 1)
    // The block's Q-numbers as bits, and the ones before each word, summed
    // when a count in the block is asked for (a block only passed, never).
    std::array<std::uint64_t, block / 64> words_{};
    std::array<std::uint32_t, block / 64> sums_{};
    bool summed_ = false;
    std::vector<std::uint32_t> primes_;  // up to primes_limit_
    std::uint64_t primes_limit_ = 0;
    std::vector<Small> tiny_, small_;  // below 64, below a block
    std::vector<Far> far_;  // a heap, the nearest multiple on top
    double block_seconds_ = 0, afresh_seconds_ = 0;
};

}  // namespace morvane
