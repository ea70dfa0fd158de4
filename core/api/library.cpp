// The public API (include/morvane.hpp) over the core: morvane-x's profile,
// the exact excess, for every call.
#include "morvane.hpp"

#include <gmp.h>
#include <mpfr.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "engine/q_count.hpp"
#include "instances/windows.hpp"
#include "profiles/decided_value.hpp"
#include "profiles/delta_enclosure.hpp"
#include "profiles/exact_density.hpp"
#include "run/set_arguments.hpp"
#include "windows/record_check.hpp"
#include "windows/run_files.hpp"

namespace morvane {

namespace {

PrimeSet prime_set(const Set& set) {
    const PrimeSet s{set.bound, set.k};
    if (s.k < PrimeSet::min_power || s.k > PrimeSet::max_power)
        throw std::invalid_argument(k_out_of_range);
    if (!runnable_set(s)) throw std::invalid_argument(p_out_of_range);
    return s;
}

// The record as its file shows it: an F line shows the F-excess, -e.
RecordLine shown(const morvane::Record<ExactProfile>& r, bool f_line) {
    return {r.n, r.count, ExactDensity::printed(f_line ? -r.e : r.e).data()};
}

Records records_of(const RunFiles<ExactProfile>& run) {
    Records out{{run.set.bound, run.set.k}, run.N, run.nmin, {}, {}, run.records.q_total};
    for (const auto& r : run.records.q) out.q.push_back(shown(r, false));
    for (const auto& r : run.records.f) out.f.push_back(shown(r, true));
    return out;
}

// The exact excesses again from n and the counts: a Q line's count is C(n),
// an F line's n - C(n).
RunFiles<ExactProfile> run_of(const Records& records) {
    const PrimeSet set = prime_set(records.set);
    const DeltaEnclosure& d = DeltaEnclosure::of(set);
    RunFiles<ExactProfile> run{set, records.N, records.nmin, set_text(records.set), {}};
    for (const RecordLine& r : records.q) run.records.q.push_back({r.n, r.count, ExactExcess(d, r.n, r.count)});
    for (const RecordLine& r : records.f)
        run.records.f.push_back({r.n, r.count, ExactExcess(d, r.n, r.n - r.count)});
    run.records.q_total = records.q_total;
    return run;
}

}  // namespace

const char* version() { return MORVANE_VERSION; }

Set read_set(const std::string& p, const std::string& k) {
    Set set;
    if (const char* error = read_power(k.c_str(), set.k)) throw std::invalid_argument(error);
    if (const char* error = read_bound(p.c_str(), set.bound)) throw std::invalid_argument(error);
    return set;
}

std::string set_text(const Set& set) { return set_text(bound_text(prime_set(set)), set.k); }

std::uint64_t q_count(const Set& set, std::uint64_t x) { return count_q_numbers(x, prime_set(set)); }

Delta delta(const Set& set) {
    const DeltaEnclosure& d = DeltaEnclosure::of(prime_set(set));
    Delta out;
    if (d.numerator()) {
        // The engine keeps A / D as the product makes it: 12/36 for {2, 3}.
        mpz_t g, part;
        mpz_inits(g, part, nullptr);
        mpz_gcd(g, d.numerator(), d.denominator());
        const auto decimal = [&](mpz_srcptr v) {
            mpz_divexact(part, v, g);
            std::string text(mpz_sizeinbase(part, 10) + 2, '\0');
            mpz_get_str(text.data(), 10, part);
            text.resize(std::strlen(text.c_str()));
            return text;
        };
        out.numerator = decimal(d.numerator());
        out.denominator = decimal(d.denominator());
        mpz_clears(g, part, nullptr);
    }
    // The nearest binary64 decided from ever narrower enclosures; the outward
    // ones from the enclosure at the engine's first precision.
    const auto enclose = [&](mpfr_ptr lo, mpfr_ptr hi) { decided::enclose_delta(d, lo, hi); };
    out.nearest = decided::decide(enclose, decided::rounded_double);
    exact::Mpfr lo(DeltaEnclosure::first_precision), hi(DeltaEnclosure::first_precision);
    enclose(lo.get(), hi.get());
    out.lo = mpfr_get_d(lo.get(), MPFR_RNDD);
    out.hi = mpfr_get_d(hi.get(), MPFR_RNDU);
    return out;
}

Records run(const Set& set, std::uint64_t N, std::uint64_t nmin, unsigned jobs) {
    const PrimeSet s = prime_set(set);
    if (N < 2) throw std::invalid_argument("Error: value of N too small");
    if (N < nmin) throw std::invalid_argument("Error: The value specified for n1 is larger than N");
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());
    try {
        auto records = scan_windows<ExactProfile>(s, N, nmin, jobs, 0, 0, [] { return true; });
        return records_of({s, N, nmin, set_text(set), std::move(*records)});
    } catch (const UndecidedExcess& undecided) {
        throw std::runtime_error(undecided.what());
    }
}

std::vector<std::string> write_files(const Records& records, const std::string& folder) {
    try {
        const auto run = run_of(records);
        const auto [q, f] = write_run_files(run, folder, run.p_text);
        return {q, f};
    } catch (const MergeRefusal& failure) {
        throw std::runtime_error(failure.what());
    }
}

Records read_files(const std::string& q_file, const std::string& f_file) {
    try {
        return records_of(read_run_files<ExactProfile>("morvane-x", q_file, f_file, {}));
    } catch (const MergeRefusal& refusal) {
        throw std::invalid_argument(refusal.what());
    }
}

std::string check_file(const std::string& file) {
    try {
        check_record_file<ExactProfile>("morvane-x", {}, file);
        return "";
    } catch (const MergeRefusal& refusal) {
        return refusal.what();
    }
}

}  // namespace morvane
