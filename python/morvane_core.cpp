// morvane._core: the C++ side of the Python module, a thin layer over core/.
//
// One run object per program (numeric profile): the records as the program
// found them, in its own arithmetic, which give the numpy arrays, the exact
// values (fractions, or decimals where delta is irrational) and, through the
// program's own RecordFiles, its files byte for byte. The checks of the Python
// arguments, with their messages, live in morvane/__init__.py, which asks here
// what each program takes (limits) and what a p text names (p_text_set); the
// checks here guard the C++ side only.
#include <gmp.h>
#include <mpfr.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "arith/prime_set.hpp"
#include "engine/q_count.hpp"
#include "profiles/decided_value.hpp"
#include "profiles/delta_enclosure.hpp"
#include "profiles/exact_density.hpp"
#include "instances/windows.hpp"
#include "run/by_name.hpp"
#include "run/decimal.hpp"
#include "run/record_files.hpp"
#include "run/set_arguments.hpp"
#include "windows/run_check.hpp"
#include "windows/run_files.hpp"
#include "windows/window_scan.hpp"

namespace py = pybind11;

namespace morvane::python {

// One line of a record file as numpy sees it.
struct Row {
    std::uint64_t n;
    std::uint64_t count;
    double excess;
};

// A record file that could not be written: OSError in Python.
struct WriteFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The significant digits of the decimal values: those of density("all").
constexpr int decimal_digits = 50;

// A Python type of the standard library, kept for the module's life and never
// destroyed after the interpreter is gone.
const py::object& library_type(const char* module, const char* name) {
    return *new py::object(py::module_::import(module).attr(name));
}
const py::object& fraction_type() {
    static const py::object& type = library_type("fractions", "Fraction");
    return type;
}
const py::object& decimal_type() {
    static const py::object& type = library_type("decimal", "Decimal");
    return type;
}

py::object fraction(py::object numerator, py::object denominator) {
    return fraction_type()(std::move(numerator), std::move(denominator));
}

py::object power_of_two(int k) {
    PyObject* value = PyNumber_Lshift(py::int_(1).ptr(), py::int_(k).ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

// A GMP integer as a Python int, through its bytes: linear in its length,
// where a decimal text would be quadratic (and refused by Python beyond 4300
// digits).
py::object python_int(mpz_srcptr z) {
    std::string bytes((mpz_sizeinbase(z, 2) + 7) / 8, '\0');
    std::size_t written = 0;
    mpz_export(bytes.data(), &written, 1, 1, 1, 0, z);  // |v|, most significant byte first
    bytes.resize(written);
    const auto int_type =
        py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyLong_Type));
    py::object value = int_type.attr("from_bytes")(py::bytes(bytes), "big");
    return mpz_sgn(z) < 0 ? -value : value;
}

// The set's delta as a Fraction, for a finite set whose fraction the engine
// holds.
py::object delta_fraction(const DeltaEnclosure& delta) {
    if (!delta.numerator()) throw std::invalid_argument("delta of this set is not held as a fraction");
    return fraction(python_int(delta.numerator()), python_int(delta.denominator()));
}

// The decimal digits of a value decided from enclosures
// (profiles/decided_value.hpp): rounded to decimal_digits significant digits, as the digits and
// the exponent e of 0.d1d2... * 10^e.
struct Digits {
    std::string digits;  // with a leading "-" when negative
    mpfr_exp_t exponent = 0;
    bool operator==(const Digits&) const = default;
};
Digits rounded_digits(mpfr_srcptr v) {
    Digits d;
    char* text = mpfr_get_str(nullptr, &d.exponent, 10, decimal_digits, v, MPFR_RNDN);
    if (!text) throw std::bad_alloc();
    d.digits = text;
    mpfr_free_str(text);
    return d;
}
// The decimal.Decimal of decimal_digits significant digits nearest to the
// enclosed value.
template <class Enclose>
py::object nearest_decimal(Enclose&& enclose) {
    const Digits d = decided::decide(enclose, rounded_digits);
    const bool negative = d.digits[0] == '-';
    const std::string digits = d.digits.substr(negative ? 1 : 0);
    const long exponent = static_cast<long>(d.exponent) - static_cast<long>(digits.size());
    return decimal_type()(py::str((negative ? "-" : "") + digits + "E" + std::to_string(exponent)));
}

// The excess as a binary64 value: as the program hands it to printf (morvane,
// morvane-l), or the exact excess rounded to nearest (morvane-x).
double nearest_double(double e) { return e; }
double nearest_double(long double e) { return static_cast<double>(e); }
double nearest_double(const ExactExcess& x) {
    if (x.kind != ExactExcess::Kind::value) return 0.0;
    return decided::decide([&](mpfr_ptr lo, mpfr_ptr hi) { decided::enclose_excess(x, lo, hi); },
                           decided::rounded_double);
}

// The excess exactly: the binary number morvane or morvane-l computed, as a
// Fraction; morvane-x's C(n) - delta * n as a Fraction for a finite set (delta
// made once per call into `delta`), and for every prime, where delta is
// irrational, as a Decimal of 50 significant digits.
py::object exact_value(double e, py::object&) { return fraction_type()(py::float_(e)); }
py::object exact_value(long double e, py::object&) {
    // e = m * 2^(exponent - 64), m the 64-bit significand as an integer.
    int exponent = 0;
    const long double fraction_part = std::frexp(std::fabs(e), &exponent);
    const auto m = static_cast<std::uint64_t>(std::ldexp(fraction_part, 64));
    py::object numerator = py::int_(m);
    if (std::signbit(e)) numerator = -numerator;
    const int shift = exponent - 64;
    if (shift >= 0) return fraction(numerator * power_of_two(shift), py::int_(1));
    return fraction(numerator, power_of_two(-shift));
}
py::object exact_value(const ExactExcess& x, py::object& delta) {
    if (x.kind != ExactExcess::Kind::value) return fraction(py::int_(0), py::int_(1));
    if (x.delta->set().all())
        return nearest_decimal(
            [&](mpfr_ptr lo, mpfr_ptr hi) { decided::enclose_excess(x, lo, hi); });
    if (!delta) delta = delta_fraction(*x.delta);
    const py::object value = fraction(py::int_(x.count), py::int_(1)) - delta * py::int_(x.n);
    return x.negated ? -value : value;
}

// p as Python sees it: the bound, or "all".
py::object python_p(const PrimeSet& set) {
    if (set.all()) return py::str("all");
    return py::int_(set.bound);
}

// The set of the arguments, or invalid_argument: any set morvane-x takes, and
// of those only the squares of the primes up to p <= 97 for morvane and
// morvane-l.
template <class Profile>
PrimeSet checked_set(std::uint64_t bound, int k) {
    const PrimeSet set{bound, k};
    if (!takes_set<Profile>(set))
        throw std::invalid_argument(std::string(program_name<Profile>()) + " does not take p = " +
                                    bound_text(set) + " with k = " + std::to_string(k));
    return set;
}

// A run's records and what names its files.
template <class Profile>
struct RunData : RunFiles<Profile> {
    using Count = typename Profile::Count;

    // An F record shows the negated excess: binary64 rounding is symmetric.
    py::array_t<Row> rows(char kind) const {
        const auto& list = kind == 'Q' ? this->records.q : this->records.f;
        py::array_t<Row> array(static_cast<py::ssize_t>(list.size()));
        auto out = array.template mutable_unchecked<1>();
        for (std::size_t i = 0; i < list.size(); ++i) {
            const double e = nearest_double(list[i].e);
            out(static_cast<py::ssize_t>(i)) = Row{list[i].n, list[i].count, kind == 'Q' ? e : -e};
        }
        array.attr("flags").attr("writeable") = false;
        return array;
    }

    // An F record's value is negated here, exactly: Python would round a
    // Decimal's negation to its context's 28 digits.
    py::list exact(char kind) const {
        py::list values;
        py::object delta;
        for (const auto& r : kind == 'Q' ? this->records.q : this->records.f)
            values.append(exact_value(kind == 'Q' ? r.e : -r.e, delta));
        return values;
    }
    // The record runs, one row (n, L) each, or None where they were not
    // asked for.
    py::object runs() const {
        if (!this->records.runs) return py::none();
        const auto& list = *this->records.runs;
        py::array_t<std::uint64_t> array({static_cast<py::ssize_t>(list.size()), py::ssize_t{2}});
        auto out = array.template mutable_unchecked<2>();
        for (std::size_t i = 0; i < list.size(); ++i) {
            out(static_cast<py::ssize_t>(i), 0) = list[i].n;
            out(static_cast<py::ssize_t>(i), 1) = list[i].length;
        }
        array.attr("flags").attr("writeable") = false;
        return array;
    }

    // The two files as the program writes them, made by its own RecordFiles.
    std::pair<std::string, std::string> file_bytes() const { return run_file_bytes(*this); }

    // Writes the files into folder, whole or not at all; returns their paths:
    // Q, F, and the record runs' file where the run has runs.
    py::tuple write(const std::string& folder, const std::string& text) const {
        try {
            const auto [q, f] = write_run_files(*this, folder, text);
            if (!this->records.runs) return py::make_tuple(q, f);
            const auto r = std::filesystem::path(folder) /
                           record_file_name('R', text.c_str(), Count(this->nmin));
            return py::make_tuple(q, f, r.string());
        } catch (const MergeRefusal& failure) {
            throw WriteFailure(failure.what());
        }
    }
};

// The run "-k K p N nmin" of the profile's program (with `runs`, "-r" too:
// morvane-x's alone), in windows of `window` n on `jobs` threads, each in
// chunks of `chunk` n (0: the defaults), without the GIL. Every tenth of a
// second the calling thread takes the GIL back and lets Python handle its
// signals: Ctrl-C raises KeyboardInterrupt, and the threads stop within a
// chunk.
template <class Profile>
RunData<Profile> scan(const PrimeSet& set, std::uint64_t N, std::uint64_t nmin, unsigned jobs,
                      std::uint64_t window, std::uint64_t chunk, bool runs) {
    using Count = typename Profile::Count;
    if (N < 2 || N > std::numeric_limits<Count>::max())
        throw std::invalid_argument("N is outside the program's range");
    if (nmin > N) throw std::invalid_argument("nmin is above N");
    if (jobs < 1) throw std::invalid_argument("jobs must be at least 1");
    if (runs && !Profile::any_set)
        throw std::invalid_argument(std::string(program_name<Profile>()) + " finds no record runs");
    std::optional<RunRecords<Profile>> records;
    {
        py::gil_scoped_release release;
        records = scan_windows<Profile>(set, Count(N), Count(nmin), jobs, window, chunk, [] {
            py::gil_scoped_acquire acquire;
            return PyErr_CheckSignals() == 0;
        }, runs);
    }
    if (!records) {
        if (PyErr_Occurred()) throw py::error_already_set();
        throw std::runtime_error("the scan was stopped");
    }
    return RunData<Profile>{
        {set, N, nmin, set_text(bound_text(set), set.k), std::move(*records)}};
}

// The pair of record files of one run, every line checked as morvane-merge
// checks its inputs. The set comes from the names' p text, checked against p
// and k where given (p as the program's first argument reads, k 0 where not
// given); p is needed where the p text names no bound (a first argument such
// as +7). The record runs' file at r_path, where it is not empty, is read as
// the merge reads it and each run proved as morvane-check proves it (its
// numbers Q-numbers, its neighbours F-numbers), so that a run made one longer
// along with the summary is refused too. Faults raise ValueError naming the
// file and the line.
template <class Profile>
RunData<Profile> read(const std::string& q_path, const std::string& f_path,
                      const std::optional<std::string>& p_argument, int k,
                      const std::string& r_path) {
    NameArguments given(p_argument ? p_argument->c_str() : nullptr, k);
    given.p_option = "p=";  // the refusals in the words of the Python call
    given.k_option = "k=";
    RunData<Profile> run{
        read_run_files<Profile>(program_name<Profile>(), q_path, f_path, given, r_path)};
    if (!r_path.empty()) check_run_file(run.set, run.nmin, r_path);
    return run;
}

template <class Profile>
void bind_run(py::module_& m, const char* class_name) {
    using Data = RunData<Profile>;
    py::class_<Data>(m, class_name,
                     ("The records of one run of " + std::string(program_name<Profile>()) +
                      ", in its own arithmetic.")
                         .c_str())
        .def_property_readonly("p", [](const Data& d) { return python_p(d.set); })
        .def_property_readonly("k", [](const Data& d) { return d.set.k; })
        .def_readonly("N", &Data::N)
        .def_readonly("nmin", &Data::nmin)
        .def_readonly("p_text", &Data::p_text)
        .def_property_readonly("q_total", [](const Data& d) { return d.records.q_total; })
        .def_property_readonly("program", [](const Data&) { return program_name<Profile>(); })
        .def(
            "rows", [](const Data& d, char kind) { return d.rows(kind); }, py::arg("kind"),
            "The Q ('Q') or F ('F') records as a numpy structured array (n, count, excess).")
        .def(
            "exact", [](const Data& d, char kind) { return d.exact(kind); }, py::arg("kind"),
            "The excesses of the Q ('Q') or F ('F') records as exact values.")
        .def_property_readonly("runs", &Data::runs,
                               "The record runs as a uint64 array of rows (n, L), or None.")
        .def(
            "file_bytes",
            [](const Data& d) {
                const auto [q, f] = d.file_bytes();
                return std::make_pair(py::bytes(q), py::bytes(f));
            },
            "The two files, Q then F, as bytes.")
        .def("write", &Data::write, py::arg("folder"), py::arg("p_text"),
             "Writes the files into folder (the record runs' too, where the run has them); "
             "returns their paths.");
}

// body(profile) for the profile of the program so named.
template <class Body>
py::object for_program(const std::string& program, Body&& body) {
    py::object result;
    if (!with_profile(program, [&](auto profile) { result = body(profile); }))
        throw std::invalid_argument("no program " + program + " in this build");
    return result;
}

// What Profile's program takes, for the checks of the Python arguments: its
// sets (set_range), its largest N, the largest count, and whether it finds
// record runs.
template <class Profile>
py::dict limits() {
    constexpr SetRange sets = set_range<Profile>();
    py::dict d;
    d["smallest_p"] = sets.smallest_p;
    d["largest_p"] = sets.largest_p;
    d["every_prime"] = sets.every_prime;
    d["smallest_k"] = sets.smallest_k;
    d["largest_k"] = sets.largest_k;
    d["largest_N"] = std::numeric_limits<typename Profile::Count>::max();
    d["record_runs"] = Profile::any_set;
    return d;
}

// (p, k) that a p text names for Profile's program, read as the names of its
// files are read: p the value of the digits as the program reads its first
// argument, before any range check (None without digits), or "all". None
// where the program writes no such p text.
template <class Profile>
py::object p_text_set(const std::string& text) {
    // Its shape as a name holds it: digits (maybe none) or "all", then maybe
    // "k" and digits.
    const auto name = read_record_name(record_file_name('Q', text.c_str(), 1));
    if (!name || name->p_text != text) return py::none();
    const std::size_t k_at = std::min(text.find('k'), text.size());
    const std::string number = text.substr(0, k_at);
    int k = 2;
    if constexpr (Profile::any_set) {
        // The power by the names' own rule (3 to 63 after k, no leading zero),
        // with "all" standing for the digits, whose value the caller checks.
        try {
            k = set_of_name<Profile>("all" + text.substr(k_at), NameArguments(), text).k;
        } catch (const MergeRefusal&) {
            return py::none();
        }
    } else if (k_at != text.size() || number == "all") {
        return py::none();  // digits only
    }
    if (number.empty()) return py::make_tuple(py::none(), k);
    if (number == "all") return py::make_tuple(py::str("all"), k);
    const std::int64_t p =
        Profile::any_set ? decimal_value(number.c_str()) : read_p(number.c_str());
    return py::make_tuple(p, k);
}

// delta of the set: a Fraction for a finite set, the Decimal of 50 significant
// digits nearest to 1 - 1/zeta(k) for every prime.
py::object density(const PrimeSet& set) {
    const DeltaEnclosure& delta = DeltaEnclosure::of(set);
    if (!set.all()) return delta_fraction(delta);
    return nearest_decimal(
        [&](mpfr_ptr lo, mpfr_ptr hi) { decided::enclose_delta(delta, lo, hi); });
}

}  // namespace morvane::python

PYBIND11_MODULE(_core, m) {
    using namespace morvane;
    using namespace morvane::python;
    m.doc() = "The C++ side of the morvane module (core/ through pybind11); use morvane instead.";
    PYBIND11_NUMPY_DTYPE(Row, n, count, excess);
    py::register_exception<WriteFailure>(m, "WriteFailure", PyExc_OSError);
    py::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const MergeRefusal& refusal) {
            PyErr_SetString(PyExc_ValueError, refusal.what());
        }
    });

    py::list programs;
    programs.append(program_name<NarrowProfile>());
    bind_run<NarrowProfile>(m, "NarrowRun");
#ifdef MORVANE_WITH_EXTENDED
    programs.append(program_name<ExtendedProfile>());
    bind_run<ExtendedProfile>(m, "ExtendedRun");
#endif
    programs.append(program_name<ExactProfile>());
    bind_run<ExactProfile>(m, "ExactRun");
    m.attr("programs") = py::tuple(programs);
    m.attr("all_programs") = py::tuple(py::cast(program_names));
    m.attr("every_prime") = py::int_(PrimeSet::every_prime);

    m.def(
        "limits",
        [](const std::string& program) {
            return for_program(
                program, [](auto profile) -> py::object { return limits<decltype(profile)>(); });
        },
        py::arg("program"),
        "What the program takes: smallest_p, largest_p, every_prime, smallest_k, largest_k, "
        "largest_N.");
    m.def(
        "p_text_set",
        [](const std::string& program, const std::string& text) {
            return for_program(program,
                               [&](auto profile) { return p_text_set<decltype(profile)>(text); });
        },
        py::arg("program"), py::arg("p_text"),
        "(p, k) that a p text names as the program's file names give it (p None without digits, "
        "before any range check), or None where the program writes no such p text.");

    m.def(
        "scan",
        [](const std::string& program, std::uint64_t p, std::uint64_t N, std::uint64_t nmin,
           unsigned jobs, std::uint64_t window, std::uint64_t chunk, int k, bool runs) {
            return for_program(program, [&](auto profile) {
                using Profile = decltype(profile);
                return py::cast(scan<Profile>(checked_set<Profile>(p, k), N, nmin, jobs, window,
                                              chunk, runs));
            });
        },
        py::arg("program"), py::arg("p"), py::arg("N"), py::arg("nmin"), py::arg("jobs"),
        py::arg("window") = 0, py::arg("chunk") = 0, py::arg("k") = 2, py::arg("runs") = false,
        "The records of a run of the set of p (every_prime: all) and k, scanned in windows of "
        "`window` n on `jobs` threads, each in chunks of `chunk` n (0: the defaults); with runs, "
        "the record runs too.");
    m.def(
        "read",
        [](const std::string& program, const std::string& q_path, const std::string& f_path,
           std::optional<std::string> p, int k, const std::string& runs_file) {
            return for_program(program, [&](auto profile) {
                return py::cast(read<decltype(profile)>(q_path, f_path, p, k, runs_file));
            });
        },
        py::arg("program"), py::arg("q_file"), py::arg("f_file"), py::arg("p") = py::none(),
        py::arg("k") = 0, py::arg("runs_file") = "",
        "The records of a pair of record files, checked line by line, and of the record runs' "
        "file where runs_file is not empty; p as the program's first argument, k 0 where not "
        "given.");

    m.def(
        "q_count",
        [](std::uint64_t x, std::uint64_t p, int k) {
            const PrimeSet set = checked_set<ExactProfile>(p, k);
            py::gil_scoped_release release;
            return count_q_numbers(x, set);
        },
        py::arg("x"), py::arg("p"), py::arg("k") = 2, "C(x) for the set of p and k.");
    m.def(
        "density", [](std::uint64_t p, int k) { return density(checked_set<ExactProfile>(p, k)); },
        py::arg("p"), py::arg("k") = 2,
        "delta of the set of p and k: a Fraction, or a Decimal for every prime.");
}
