// morvane._core: the C++ side of the Python module, a thin layer over core/.
//
// One run object per program (numeric profile): the records as the program
// found them, in its own arithmetic, which give the numpy arrays, the exact
// values as fractions and, through the program's own RecordFiles, its files
// byte for byte. The checks of the Python arguments live in morvane/__init__.py;
// the ones here guard the C++ side only.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cerrno>
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

#include "engine/q_count.hpp"
#include "engine/squares.hpp"
#include "profiles/exact_density.hpp"
#include "profiles/profile.hpp"
#include "run/decimal.hpp"
#include "run/record_files.hpp"
#include "windows/record_file_reader.hpp"
#include "windows/replacing_file.hpp"
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

template <class Profile>
struct ProgramOf;
template <>
struct ProgramOf<NarrowProfile> {
    static constexpr const char* name = "morvane";
};
template <>
struct ProgramOf<ExtendedProfile> {
    static constexpr const char* name = "morvane-l";
};
template <>
struct ProgramOf<ExactProfile> {
    static constexpr const char* name = "morvane-x";
};

py::object python_int(const std::string& decimal) {
    PyObject* value = PyLong_FromString(decimal.c_str(), nullptr, 10);
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

// fractions.Fraction, kept for the module's life and never destroyed after
// the interpreter is gone.
const py::object& fraction_type() {
    static const auto* type = new py::object(py::module_::import("fractions").attr("Fraction"));
    return *type;
}

py::object fraction(py::object numerator, py::object denominator) {
    return fraction_type()(std::move(numerator), std::move(denominator));
}

py::object power_of_two(int k) {
    PyObject* value = PyNumber_Lshift(py::int_(1).ptr(), py::int_(k).ptr());
    if (!value) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
}

// The excess as a binary64 value, as the program hands it to printf (morvane,
// morvane-l) or as the exact value rounded to nearest (morvane-x: Python's
// division of integers rounds correctly), and its exact value as a Fraction.
double nearest_double(double e) { return e; }
double nearest_double(long double e) { return static_cast<double>(e); }
// delta of a finite set as a Fraction.
py::object delta_fraction(const DeltaEnclosure& delta) {
    const auto& f = delta.fraction();
    if (!f) throw std::invalid_argument("delta of this set is not held as a fraction");
    return fraction(python_int(f->first.str()), python_int(f->second.str()));
}
py::object exact_value(const ExactDensity::Real& x);
double nearest_double(const ExactDensity::Real& x) {
    // Fraction's float() divides integers, which Python rounds correctly.
    return exact_value(x).cast<double>();
}

py::object exact_value(double e) { return fraction_type()(py::float_(e)); }
py::object exact_value(long double e) {
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
py::object exact_value(const ExactDensity::Real& x) {
    if (x.kind != ExactDensity::Real::Kind::value) return fraction(py::int_(0), py::int_(1));
    const py::object value =
        fraction(py::int_(x.count), py::int_(1)) - delta_fraction(*x.delta) * py::int_(x.n);
    return x.negated ? -value : value;
}

// A run's records and what names its files.
template <class Profile>
struct RunData {
    using Count = typename Profile::Count;
    std::int32_t p = 0;
    std::uint64_t N = 0, nmin = 0;
    std::string p_text;
    RunRecords<Profile> records;

    // An F record shows the negated excess: binary64 rounding is symmetric.
    py::array_t<Row> rows(char kind) const {
        const auto& list = kind == 'Q' ? records.q : records.f;
        py::array_t<Row> array(static_cast<py::ssize_t>(list.size()));
        auto out = array.template mutable_unchecked<1>();
        for (std::size_t i = 0; i < list.size(); ++i) {
            const double e = nearest_double(list[i].e);
            out(static_cast<py::ssize_t>(i)) = Row{list[i].n, list[i].count, kind == 'Q' ? e : -e};
        }
        array.attr("flags").attr("writeable") = false;
        return array;
    }

    py::list exact(char kind) const {
        py::list values;
        for (const auto& r : kind == 'Q' ? records.q : records.f) {
            py::object e = exact_value(r.e);
            values.append(kind == 'Q' ? e : -e);
        }
        return values;
    }

    // The two files as the program writes them, made by its own RecordFiles.
    std::pair<std::string, std::string> file_bytes() const {
        char* q_bytes = nullptr;
        char* f_bytes = nullptr;
        std::size_t q_size = 0, f_size = 0;
        std::FILE* q = open_memstream(&q_bytes, &q_size);
        std::FILE* f = open_memstream(&f_bytes, &f_size);
        if (!q || !f) throw std::bad_alloc();
        bool written = true;
        {
            RecordFiles<Profile> files(q, f);
            for (const auto& r : records.q)
                written = files.q_record(Count(r.n), Count(r.count), r.e) && written;
            for (const auto& r : records.f)
                written = files.f_record(Count(r.n), Count(r.count), r.e) && written;
            written = files.close_q(Count(N), Count(records.q_total)) && written;
            written = files.close_f(Count(N), Count(N - records.q_total)) && written;
        }
        std::pair<std::string, std::string> bytes{std::string(q_bytes, q_size),
                                                  std::string(f_bytes, f_size)};
        std::free(q_bytes);
        std::free(f_bytes);
        if (!written) throw std::bad_alloc();
        return bytes;
    }

    // Writes both files into folder, each through a temporary file renamed over
    // its name when complete, so that a failure leaves any earlier files whole.
    // Returns the two paths.
    std::pair<std::string, std::string> write(const std::string& folder,
                                              const std::string& text) const {
        const std::filesystem::path dir(folder);
        const auto q_target = dir / record_file_name('Q', text.c_str(), Count(nmin));
        const auto f_target = dir / record_file_name('F', text.c_str(), Count(nmin));
        const auto [q_bytes, f_bytes] = file_bytes();
        try {
            for (const auto& target : {q_target, f_target}) {
                std::error_code error;
                const auto status = std::filesystem::status(target, error);
                if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
                    throw MergeRefusal(target.string(), "is in the way: not a regular file");
            }
            morvane::detail::TemporaryFile q_out(q_target), f_out(f_target);
            q_out.write(q_bytes);
            f_out.write(f_bytes);
            q_out.finish();
            f_out.finish();
            q_out.rename_over_target();
            f_out.rename_over_target();
        } catch (const MergeRefusal& failure) {
            throw WriteFailure(failure.what());
        }
        return {q_target.string(), f_target.string()};
    }
};

template <class Profile>
void check_run(std::int32_t p, std::uint64_t N, std::uint64_t nmin) {
    if (p < 2 || p > 97) throw std::invalid_argument("p must be from 2 to 97");
    if (N < 2 || N > std::numeric_limits<typename Profile::Count>::max())
        throw std::invalid_argument("N is outside the program's range");
    if (nmin > N) throw std::invalid_argument("nmin is above N");
}

// The run "p N nmin" of the profile's program, in windows of `window` n on
// `jobs` threads, each in chunks of `chunk` n (0: the defaults), without the
// GIL. Every tenth of a second the calling thread takes the GIL back and lets
// Python handle its signals: Ctrl-C raises KeyboardInterrupt, and the threads
// stop within a chunk.
template <class Profile>
RunData<Profile> scan(std::int32_t p, std::uint64_t N, std::uint64_t nmin, unsigned jobs,
                      std::uint64_t window, std::uint64_t chunk) {
    using Count = typename Profile::Count;
    check_run<Profile>(p, N, nmin);
    if (jobs < 1) throw std::invalid_argument("jobs must be at least 1");
    std::optional<RunRecords<Profile>> records;
    {
        py::gil_scoped_release release;
        records = scan_windows<Profile>(p, Count(N), Count(nmin), jobs, window, chunk, [] {
            py::gil_scoped_acquire acquire;
            return PyErr_CheckSignals() == 0;
        });
    }
    if (!records) {
        if (PyErr_Occurred()) throw py::error_already_set();
        throw std::runtime_error("the scan was stopped");
    }
    RunData<Profile> run{p, N, nmin, std::to_string(p), std::move(*records)};
    return run;
}

// The pair of record files of one run, every line checked as morvane-merge
// checks its inputs; p_value gives p where the p text is empty (a first
// argument such as +7). Faults raise ValueError naming the file and the line.
template <class Profile>
RunData<Profile> read(const std::string& q_path, const std::string& f_path,
                      std::optional<std::int32_t> p_value) {
    using Count = typename Profile::Count;
    const std::string program = ProgramOf<Profile>::name;
    const auto q_name = read_record_name(q_path);
    if (!q_name || q_name->kind != 'Q')
        throw MergeRefusal(q_path, "not named like a Q file (maxdevQ_<p text>-<nmin>.txt)");
    const auto f_name = read_record_name(f_path);
    if (!f_name || f_name->kind != 'F')
        throw MergeRefusal(f_path, "not named like an F file (maxdevF_<p text>-<nmin>.txt)");
    if (f_name->p_text != q_name->p_text || f_name->nmin_text != q_name->nmin_text)
        throw MergeRefusal(f_path,
                           "not the partner of " + q_path + ": another p text or nmin in the name");
    const auto nmin = read_printed_count<Count>(q_name->nmin_text);
    if (!nmin)
        throw MergeRefusal(q_path, "the nmin in the name, " + q_name->nmin_text +
                                       ", is not a count of " + program);
    const std::string& p_text = q_name->p_text;
    std::int32_t p = 0;
    if (p_value) {
        p = *p_value;
        if (!p_text.empty() && read_p(p_text.c_str()) != p)
            throw MergeRefusal(q_path,
                               "its p text gives p = " + std::to_string(read_p(p_text.c_str())) +
                                   ", p= gives " + std::to_string(p));
    } else {
        if (p_text.empty())
            throw MergeRefusal(q_path,
                               "the p text is empty (a first argument such as +7): give p with p=");
        p = read_p(p_text.c_str());
    }
    if (static_cast<std::uint32_t>(p) < 2 || p > 97)
        throw MergeRefusal(q_path, "p = " + std::to_string(p) + " is out of range (2 to 97)");

    const typename Profile::Density density(squares_set(p));
    ProgramLines<Profile> lines;
    RunData<Profile> run;
    const auto keep_into = [](std::vector<Record<Profile>>& list) {
        return [&list](std::string_view line, const typename Profile::Real& e) {
            // The reader has checked the line: two counts, then the excess.
            const auto fields = morvane::detail::fields_of(line.substr(0, line.size() - 1));
            list.push_back(
                {*read_printed_count<Count>(fields[0]), *read_printed_count<Count>(fields[1]), e});
        };
    };
    const auto q = read_window_file<Profile>(q_path, 'Q', *nmin, density, lines, program,
                                             keep_into(run.records.q));
    const auto f = read_window_file<Profile>(f_path, 'F', *nmin, density, lines, program,
                                             keep_into(run.records.f));
    if (q.N != f.N || f.count != q.N - q.count)
        throw MergeRefusal(f_path,
                           "its summary line does not match that of its Q partner " + q_path);
    run.p = p;
    run.N = q.N;
    run.nmin = *nmin;
    run.p_text = p_text;
    run.records.q_total = q.count;
    return run;
}

template <class Profile>
void bind_run(py::module_& m, const char* class_name) {
    using Data = RunData<Profile>;
    py::class_<Data>(m, class_name,
                     ("The records of one run of " + std::string(ProgramOf<Profile>::name) +
                      ", in its own arithmetic.")
                         .c_str())
        .def_readonly("p", &Data::p)
        .def_readonly("N", &Data::N)
        .def_readonly("nmin", &Data::nmin)
        .def_readonly("p_text", &Data::p_text)
        .def_property_readonly("q_total", [](const Data& d) { return d.records.q_total; })
        .def_property_readonly("program", [](const Data&) { return ProgramOf<Profile>::name; })
        .def(
            "rows", [](const Data& d, char kind) { return d.rows(kind); }, py::arg("kind"),
            "The Q ('Q') or F ('F') records as a numpy structured array (n, count, excess).")
        .def(
            "exact", [](const Data& d, char kind) { return d.exact(kind); }, py::arg("kind"),
            "The excesses of the Q ('Q') or F ('F') records as exact fractions.")
        .def(
            "file_bytes",
            [](const Data& d) {
                const auto [q, f] = d.file_bytes();
                return std::make_pair(py::bytes(q), py::bytes(f));
            },
            "The two files, Q then F, as bytes.")
        .def("write", &Data::write, py::arg("folder"), py::arg("p_text"),
             "Writes the two files into folder; returns their paths.");
}

// Calls body with a value of the profile of the program so named.
template <class Body>
py::object with_program(const std::string& program, Body&& body) {
    if (program == "morvane") return body(NarrowProfile{});
#ifdef MORVANE_PYTHON_EXTENDED
    if (program == "morvane-l") return body(ExtendedProfile{});
#endif
    if (program == "morvane-x") return body(ExactProfile{});
    throw std::invalid_argument("no program " + program + " in this build");
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
    programs.append("morvane");
    bind_run<NarrowProfile>(m, "NarrowRun");
#ifdef MORVANE_PYTHON_EXTENDED
    programs.append("morvane-l");
    bind_run<ExtendedProfile>(m, "ExtendedRun");
#endif
    programs.append("morvane-x");
    bind_run<ExactProfile>(m, "ExactRun");
    m.attr("programs") = py::tuple(programs);

    m.def(
        "scan",
        [](const std::string& program, std::int32_t p, std::uint64_t N, std::uint64_t nmin,
           unsigned jobs, std::uint64_t window, std::uint64_t chunk) {
            return with_program(program, [&](auto profile) {
                return py::cast(scan<decltype(profile)>(p, N, nmin, jobs, window, chunk));
            });
        },
        py::arg("program"), py::arg("p"), py::arg("N"), py::arg("nmin"), py::arg("jobs"),
        py::arg("window") = 0, py::arg("chunk") = 0,
        "The records of a run, scanned in windows of `window` n on `jobs` threads, each in "
        "chunks of `chunk` n (0: the defaults).");
    m.def(
        "read",
        [](const std::string& program, const std::string& q_path, const std::string& f_path,
           std::optional<std::int32_t> p) {
            return with_program(program, [&](auto profile) {
                return py::cast(read<decltype(profile)>(q_path, f_path, p));
            });
        },
        py::arg("program"), py::arg("q_file"), py::arg("f_file"), py::arg("p") = py::none(),
        "The records of a pair of record files, checked line by line.");

    m.def(
        "q_count",
        [](std::uint64_t x, std::int32_t p) {
            if (p < 2 || p > 97) throw std::invalid_argument("p must be from 2 to 97");
            return count_q_numbers(x, active_square_count<std::uint64_t>(p));
        },
        py::arg("x"), py::arg("p"), "C(x), by inclusion and exclusion.");
    m.def(
        "density",
        [](std::int32_t p) {
            if (p < 2 || p > 97) throw std::invalid_argument("p must be from 2 to 97");
            return delta_fraction(ExactDensity(squares_set(p)).delta());
        },
        py::arg("p"), "delta as a Fraction.");
}
