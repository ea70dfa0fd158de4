"""The morvane experiment from Python.

Given a set of primes and a power k, a positive integer is a Q-number when
q**k divides it for a prime q of the set, and an F-number otherwise. The set is
the primes up to a bound p, or every prime (p = "all"). C(n) counts the
Q-numbers in [1, n], and delta = 1 - (1 - 1/2**k)(1 - 1/3**k)...(1 - 1/q**k)
over the set is their density: 1 - 1/zeta(k) for every prime, whose F-numbers
are the k-free numbers. The Q-excess at n is C(n) - delta*n, the F-excess its
negation. A run up to N records, from nmin on, every new maximum of the
Q-excess at a Q-number and of the F-excess at an F-number: the lines of the
programs' Q and F files. morvane-x -r also records every run of consecutive
Q-numbers longer than all before it: the lines of its third file.

    >>> import morvane
    >>> run = morvane.scan(97, 10**6)          # morvane-x, the exact excess
    >>> run.q[-1]                              # the largest Q-excess record
    >>> run.write()                            # the program's two files
    >>> morvane.scan("all", 10**6, k=3)        # the cube-free numbers

scan() runs the programs' own fast engine (core/ in C++) in this process and
hands the records over as numpy arrays; read() reads a pair of record files;
q_count() and density() give C(x) and delta.

The programs: "morvane" (32-bit counts, binary64), "morvane-l" (64-bit counts,
the x86-64 80-bit extended format), both for the squares (k = 2) of the primes
up to p from 2 to 97, and "morvane-x" (64-bit counts, the exact excess) for
any p from 2 to 4294967295 or "all" and any k from 2 to 63, as in `man morvane`.
"""

import operator
import os

from . import _core

__all__ = ["Run", "scan", "read", "q_count", "density", "PROGRAMS"]

#: The programs this build has: "morvane", "morvane-l" (where long double is
#: the x86-64 extended format) and "morvane-x".
PROGRAMS = tuple(_core.programs)

# What each program of this build takes (its sets, its largest N), as the core
# has it; morvane-x, in every build, takes every set.
_LIMITS = {program: _core.limits(program) for program in PROGRAMS}
_ANY_SET = _LIMITS["morvane-x"]
_MOST_JOBS = 256
_EVERY_PRIME = _core.every_prime  # the bound the core takes for "all"
# density() and the exact excesses of a finite set are fractions whose
# denominator, the product of q**k over the primes q up to p, has about
# 1.44 * p * k bits; Python reduces a fraction in time quadratic in that.
_LARGEST_EXACT = 10**6  # p * k


def _integer(value, name, kinds="an integer"):
    """value as a Python int, or TypeError: ints and integer types such as
    numpy's, never bool, float or str (nothing is rounded or parsed)."""
    if isinstance(value, bool) or not hasattr(type(value), "__index__"):
        hint = ""
        if isinstance(value, float) and value.is_integer():
            hint = f"; write {int(value)} or an expression such as 10**6"
        raise TypeError(f"{name} must be {kinds}, not {type(value).__name__} "
                        f"({value!r}){hint}")
    return operator.index(value)


def _in_range(value, name, low, high, why="", then=""):
    if not low <= value <= high:
        raise ValueError(f"{name} must be from {low} to {high}{why}, not {value}{then}")
    return value


def _p(value, program="morvane-x"):
    """p for program: an int, or "all" (morvane-x only)."""
    own = _LIMITS[program]
    low, high = own["smallest_p"], own["largest_p"]
    if isinstance(value, str):
        if value != "all":
            raise ValueError(f'p must be an integer or "all", not {_shown(value)}')
        if not own["every_prime"]:
            raise ValueError(f'p = "all" is morvane-x\'s alone: {program} takes p from {low} '
                             f"to {high}")
        return value
    p = _integer(value, "p", 'an integer or "all"')
    if own["every_prime"]:
        return _in_range(p, "p", low, high, ' (or "all")')
    return _in_range(p, "p", low, high, f" for {program}",
                     f'; morvane-x takes p up to {_ANY_SET["largest_p"]} and "all"')


def _k(value, program="morvane-x"):
    """The power k for program: 2 to 63 for morvane-x, 2 for the others."""
    low, high = _ANY_SET["smallest_k"], _ANY_SET["largest_k"]
    k = _in_range(_integer(value, "k"), "k", low, high)
    own = _LIMITS[program]
    if not own["smallest_k"] <= k <= own["largest_k"]:
        raise ValueError(f"k must be {own['smallest_k']} for {program} (the squares), not {k}; "
                         f"morvane-x takes k from {low} to {high}")
    return k


def _bound(p):
    """p as the core takes it: the bound, or _EVERY_PRIME for "all"."""
    return _EVERY_PRIME if p == "all" else p


def _exact_size(p, k):
    """ValueError where the exact fraction of a finite set is refused."""
    if p != "all" and p * k > _LARGEST_EXACT:
        raise ValueError(f"the exact fraction of a finite set is given for p * k up to "
                         f"10**6 (its denominator, the product of q**k over the primes q "
                         f"up to p, has about 1.44 * p * k bits), not p = {p}, k = {k}")


def _flag(value, name):
    """value as a bool, or TypeError: True or False only."""
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__} ({value!r})")
    return value


def _runs_program(program, name):
    """ValueError where program finds no record runs (all but morvane-x)."""
    if not _LIMITS[program]["record_runs"]:
        raise ValueError(f"{name} is morvane-x's alone (its -r): {program} finds no record runs")


def _program(program):
    if not isinstance(program, str):
        raise TypeError(f"program must be a str, one of {', '.join(map(repr, PROGRAMS))}, "
                        f"not {type(program).__name__} ({program!r})")
    if program not in PROGRAMS:
        if program in _core.all_programs:
            raise ValueError(f"program {program!r} is not in this build: long double is not "
                             "the x86-64 extended format here")
        raise ValueError(f"program must be one of {', '.join(map(repr, PROGRAMS))}, "
                         f"not {program!r}")
    return program


def _path(value, name):
    try:
        return os.fspath(value)
    except TypeError:
        raise TypeError(f"{name} must be a path (str or os.PathLike), not "
                        f"{type(value).__name__} ({value!r})") from None


def _shown(text):
    """repr(text), cut short for a long one."""
    return repr(text) if len(text) <= 40 else f"{text[:20]!r}... ({len(text)} characters)"


class Run:
    """The records of one run of a program, as its two record files hold them.

    Made by scan() and read(), not by hand. Attributes:

    q, f
        numpy structured arrays, one row per record line of the Q file and of
        the F file, in order, with the fields n (uint64), count (uint64: C(n)
        in q, n - C(n) in f) and excess (float64: the Q-excess in q, the
        F-excess in f). For morvane and morvane-l the excess is the binary64
        value the program prints; for morvane-x the exact excess rounded to
        the nearest binary64 value. Read-only.
    runs
        the record runs as morvane-x -r finds them, or None (see its help).
    p, k, N, nmin, program, p_text, q_total, f_total
        the run (see their own help).

    q_exact() and f_exact() give the excesses exactly (fractions; for every
    prime, 50 significant digits), write() the program's files byte for
    byte, plot() a picture of both series.
    """

    __slots__ = ("_data", "_q", "_f", "_runs")

    def __init__(self, data):
        self._data = data
        self._q = None
        self._f = None
        self._runs = None

    @property
    def q(self):
        """The Q records: a numpy structured array with fields n, count = C(n)
        and excess = the Q-excess at n, in increasing n."""
        if self._q is None:
            self._q = self._data.rows("Q")
        return self._q

    @property
    def f(self):
        """The F records: a numpy structured array with fields n,
        count = n - C(n) and excess = the F-excess at n, in increasing n."""
        if self._f is None:
            self._f = self._data.rows("F")
        return self._f

    @property
    def runs(self):
        """The record runs of consecutive Q-numbers, as morvane-x -r writes
        them: a numpy uint64 array of shape (m, 2), one row (n, L) per run of
        L Q-numbers from n longer than every run before it, runs cut to
        [nmin, N]. None for a run of scan() without runs=True or of read()
        without runs_file. Read-only."""
        if self._runs is None:
            self._runs = self._data.runs
        return self._runs

    @property
    def p(self):
        """The set's bound on the primes: an int (2 to 97 for morvane and
        morvane-l, up to 4294967295 for morvane-x), or "all" for every prime."""
        return self._data.p

    @property
    def k(self):
        """The power: n is a Q-number when q**k divides it for a prime q of the
        set; 2 (the squares) for morvane and morvane-l, 2 to 63 for morvane-x."""
        return self._data.k

    @property
    def N(self):
        """The last n scanned."""
        return self._data.N

    @property
    def nmin(self):
        """The first n that may hold a record (0 scans like 1)."""
        return self._data.nmin

    @property
    def program(self):
        """The program whose arithmetic the run follows: "morvane", "morvane-l"
        or "morvane-x"."""
        return self._data.program

    @property
    def p_text(self):
        """The p text that names the files: for a run of scan() the one the
        program writes, str(p) or "all", followed by "k" and the power when k
        is not 2 ("97", "allk3", "1000k7"); for a run of read() the files'
        own."""
        return self._data.p_text

    @property
    def q_total(self):
        """C(N), the number of Q-numbers in [1, N]: the Q file's summary count."""
        return self._data.q_total

    @property
    def f_total(self):
        """N - C(N), the number of F-numbers in [1, N]: the F file's summary
        count."""
        return self._data.N - self._data.q_total

    def q_exact(self):
        """The Q-excess of every Q record, in order, exactly.

        For morvane-x with a finite set, the rational C(n) - delta*n as a
        fractions.Fraction, given for p * k up to 10**6 (beyond, ValueError: see
        density()); for every prime, where delta = 1 - 1/zeta(k) is irrational,
        a decimal.Decimal: C(n) - delta*n correctly rounded to 50 significant
        digits, as density("all", k). For morvane and morvane-l, a Fraction:
        the exact value of the binary number the program computed (binary64,
        or the 80-bit extended format), before any rounding for printing.
        """
        self._exact_size()
        return self._data.exact("Q")

    def f_exact(self):
        """The F-excess of every F record, in order, exactly; see q_exact()."""
        self._exact_size()
        return self._data.exact("F")

    def _exact_size(self):
        if self.program == "morvane-x":
            _exact_size(self.p, self.k)

    def write(self, folder=".", p_text=None):
        """Writes the files the program writes for this run, byte for byte,
        into folder, and returns their paths (Q file, F file), then the record
        runs' file where the run has runs.

        The files are maxdevQ_<p text>-<nmin>.txt and maxdevF_<p text>-<nmin>.txt,
        and maxrunQ_<p text>-<nmin>.txt as morvane-x -r writes it.
        For morvane and morvane-l, p_text is the text of the program's first
        argument up to its first non-digit: digits only, possibly none (the
        programs' "+7" or " 7" leave none), and read back as p. For morvane-x
        it is those digits or "all", followed by "k" and the power when k is
        not 2 ("allk3", "05k4", "k3" for the arguments "-k 3 +5"). Either way
        it must name the run's p and k; by default the run's own (for a run of
        scan(), str(p) or "all", with the power). Each file is written beside
        its name and renamed over it when complete, so a failure (OSError)
        leaves no half-written file.
        """
        folder = _path(folder, "folder")
        if p_text is None:
            p_text = self.p_text
        if not isinstance(p_text, str):
            raise TypeError(f"p_text must be a str, not {type(p_text).__name__} ({p_text!r})")
        named = _core.p_text_set(self.program, p_text)
        if named is None and _LIMITS[self.program]["every_prime"]:
            raise ValueError(f'p_text must be digits or "all", then k and a power from 3 to 63 '
                             f"when k is not 2 (as morvane-x names its files), not {_shown(p_text)}")
        if named is None:
            raise ValueError(f"p_text must be digits only (the first argument up to its "
                             f"first non-digit), not {_shown(p_text)}")
        p, k = named
        if k != self.k:
            raise ValueError(f"p_text {_shown(p_text)} gives k = {k}, "
                             f"not the run's k = {self.k}")
        if p is not None and p != self.p:
            raise ValueError(f"p_text {_shown(p_text)} gives p = {p}, "
                             f"not the run's p = {self.p}")
        return self._data.write(folder, p_text)

    def plot(self, ax=None):
        """Draws the recorded Q-excess and F-excess against n on a logarithmic n
        axis, as morvane-plot draws them, and returns the matplotlib axes.

        Each series is a staircase through its records (the largest excess so
        far holds until the next record), carried on to N by a dashed line.
        ax: the axes to draw into; by default a new figure's. matplotlib is
        imported only here.
        """
        if ax is None:
            import matplotlib.pyplot as plt

            _, ax = plt.subplots()
        start = max(self.nmin, 1)
        for rows, name, color in ((self.q, "Q-excess", "C0"), (self.f, "F-excess", "C1")):
            if len(rows) == 0:
                ax.plot([], [], color=color, label=f"{name} (no record)")
                continue
            n = rows["n"].astype(float)
            excess = rows["excess"]
            ax.step(n, excess, where="post", color=color,
                    label=f"{name} ({len(rows)} record{'s' if len(rows) > 1 else ''})")
            ax.plot([n[-1], float(self.N)], [excess[-1], excess[-1]], color=color,
                    linestyle="--")
        ax.set_xscale("log")
        ax.set_xlim(start, max(float(self.N), start * 1.001))
        ax.set_xlabel("n")
        ax.set_ylabel("excess")
        power = f", k = {self.k}" if self.k != 2 else ""
        ax.set_title(f"{self.program}: p = {self.p}{power}, N = {self.N}, nmin = {self.nmin}")
        ax.legend()
        return ax

    def __repr__(self):
        power = f" k={self.k}" if self.k != 2 else ""
        runs = "" if self.runs is None else f", {len(self.runs)} record runs"
        return (f"<morvane.Run {self.program} p={self.p}{power} N={self.N} nmin={self.nmin}: "
                f"{len(self.q)} Q records, {len(self.f)} F records{runs}>")


def scan(p, N=900, nmin=1, program="morvane-x", jobs=1, k=2, runs=False):
    """Runs the experiment "program -k k p N nmin" in this process and returns
    its records as a Run: the records of exactly the files the program writes.

    p        the set: the primes up to p, from 2 to 97 for morvane and
             morvane-l and to 4294967295 for morvane-x (it need not be
             prime), or "all", every prime (morvane-x only)
    N        the last n, from 2; below 2**32 for morvane, 2**64 otherwise
    nmin     the first n that may hold a record, 0 to N (0 scans like 1)
    program  "morvane", "morvane-l" or "morvane-x" (the exact excess)
    jobs     threads: the run is cut into windows, scanned on that many
             threads and merged exactly, as morvane-merge merges window runs
    k        the power, 2 to 63 for morvane-x, 2 (the squares) for the others:
             n is a Q-number when q**k divides it for a prime q of the set
    runs     True: also the record runs of consecutive Q-numbers, as
             morvane-x -r finds them (run.runs; morvane-x only)

    Arguments are Python integers (or integer types such as numpy's), p also
    the str "all", runs True or False; anything else raises TypeError, and a
    value out of range ValueError, naming the argument. The scan runs the
    programs' fast engine without holding the GIL; Ctrl-C stops it within
    about a second with KeyboardInterrupt.

        >>> run = morvane.scan(97, 10**6, program="morvane")
        >>> len(run.q), len(run.f)
        (81, 92)
        >>> morvane.scan("all", 10**6, k=3).p_text     # the cube-free numbers
        'allk3'
    """
    program = _program(program)
    p = _p(p, program)
    N = _integer(N, "N")
    nmin = _integer(nmin, "nmin")
    jobs = _integer(jobs, "jobs")
    k = _k(k, program)
    if _flag(runs, "runs"):
        _runs_program(program, "runs=True")
    largest = _LIMITS[program]["largest_N"]
    if N < 2:
        raise ValueError(f"N must be at least 2, not {N}")
    if N > largest:
        bits = 32 if largest < 2**32 else 64
        other = ("; morvane-l and morvane-x count to 2**64 - 1" if program == "morvane" else "")
        raise ValueError(f"N = {N} is beyond {program}'s {bits}-bit counts "
                         f"(at most {largest}){other}")
    _in_range(nmin, "nmin", 0, N, " (N)")
    _in_range(jobs, "jobs", 1, _MOST_JOBS)
    return Run(_core.scan(program, _bound(p), N, nmin, jobs, k=k, runs=runs))


def read(q_file, f_file, program="morvane-x", p=None, k=None, runs_file=None):
    """Reads the Q and F record files of one run of program into a Run, and
    where runs_file is given the record runs' file of morvane-x -r into
    run.runs.

    Every line is checked as morvane-merge checks its inputs: the names
    (maxdevQ_<p text>-<nmin>.txt and maxdevF_ with the same p text and nmin),
    the lines as the program prints them, every excess recomputed from its n
    and count in the program's arithmetic and beating the one before, and both
    files complete, ending with summary lines that agree; and runs_file
    (maxrunQ_ with the same p text and nmin) as morvane-check checks it: each
    run inside [nmin, N] and longer than the one before, its numbers proved
    Q-numbers and its neighbours F-numbers, and its summary line the last
    run's length with the Q file's N. A fault raises ValueError naming the
    file and the line.

    The set comes from the p text of the names: digits, or for morvane-x also
    "all", followed by "k" and the power when it is not 2 ("97", "allk3").
    p (an int, or "all") and k, where given, must agree with it; p is needed
    only where the p text has no digits (the files of a first argument such
    as +7).
    """
    q_file = _path(q_file, "q_file")
    f_file = _path(f_file, "f_file")
    program = _program(program)
    if p is not None:
        p = str(_p(p, program))
    k = 0 if k is None else _k(k, program)
    if runs_file is not None:
        runs_file = _path(runs_file, "runs_file")
        _runs_program(program, "runs_file")
        if not runs_file:
            raise ValueError("runs_file must name a file, not ''")
    return Run(_core.read(program, q_file, f_file, p, k, runs_file or ""))


def q_count(x, p, k=2):
    """C(x), the number of Q-numbers in [1, x] for the primes up to p (an int
    from 2 to 4294967295, or "all" for every prime) and the power k (2 to 63),
    exactly: x minus the count of the n <= x that no q**k of the set divides,
    by inclusion and exclusion over the products d of the set's primes,
    x - sum of mu(d) * floor(x / d**k), or by a sieve where the set has many
    primes below the k-th root of x. x from 0 to 2**64 - 1."""
    x = _in_range(_integer(x, "x"), "x", 0, 2**64 - 1)
    p = _p(p)
    return _core.q_count(x, _bound(p), _k(k))


def density(p, k=2):
    """delta, the density of the Q-numbers for the primes up to p and the
    power k (2 to 63).

    For a finite set (p an int from 2 to 4294967295) delta = 1 - (1 - 1/2**k)
    (1 - 1/3**k)...(1 - 1/q**k) over the primes q up to p, as an exact
    fractions.Fraction. Its denominator has about 1.44 * p * k bits, so it is
    given for p * k up to 10**6; a larger set raises ValueError.

    For every prime (p = "all") delta = 1 - 1/zeta(k), irrational for even k
    and for k = 3: a decimal.Decimal of 50 significant digits, delta
    correctly rounded to nearest. It is computed with MPFR from an enclosure
    of delta (zeta(k) bounded from below and above, every operation rounded
    outwards) made tight enough, by raising the precision, that both of its
    ends round to the same 50 digits.

        >>> morvane.density(3)
        Fraction(1, 3)
        >>> morvane.density("all")
        Decimal('0.39207289814597337133672322074163416657384735196652')
    """
    p = _p(p)
    k = _k(k)
    _exact_size(p, k)
    return _core.density(_bound(p), k)
