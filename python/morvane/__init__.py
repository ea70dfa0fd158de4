"""The morvane experiment from Python.

Given a bound p from 2 to 97, a positive integer is a Q-number when the square
of a prime up to p divides it, and an F-number otherwise. C(n) counts the
Q-numbers in [1, n], and delta = 1 - (1 - 1/4)(1 - 1/9)...(1 - 1/q^2) is their
density. The Q-excess at n is C(n) - delta*n, the F-excess its negation. A run
up to N records, from nmin on, every new maximum of the Q-excess at a Q-number
and of the F-excess at an F-number: the lines of the programs' Q and F files.

    >>> import morvane
    >>> run = morvane.scan(97, 10**6)          # morvane-x, the exact excess
    >>> run.q[-1]                              # the largest Q-excess record
    >>> run.write()                            # the program's two files

scan() runs the programs' own fast engine (core/ in C++) in this process and
hands the records over as numpy arrays; read() reads a pair of record files;
q_count() and density() give C(x) and delta exactly.

The programs: "morvane" (32-bit counts, binary64), "morvane-l" (64-bit counts,
the x86-64 80-bit extended format) and "morvane-x" (64-bit counts, the exact
excess), as in `man morvane`.
"""

import operator
import os

from . import _core

__all__ = ["Run", "scan", "read", "q_count", "density", "PROGRAMS"]

#: The programs this build has: "morvane", "morvane-l" (where long double is
#: the x86-64 extended format) and "morvane-x".
PROGRAMS = tuple(_core.programs)

_ALL_PROGRAMS = ("morvane", "morvane-l", "morvane-x")
_LARGEST_N = {"morvane": 2**32 - 1, "morvane-l": 2**64 - 1, "morvane-x": 2**64 - 1}
_MOST_JOBS = 256


def _integer(value, name):
    """value as a Python int, or TypeError: ints and integer types such as
    numpy's, never bool, float or str (nothing is rounded or parsed)."""
    if isinstance(value, bool) or not hasattr(type(value), "__index__"):
        hint = ""
        if isinstance(value, float) and value.is_integer():
            hint = f"; write {int(value)} or an expression such as 10**6"
        raise TypeError(f"{name} must be an integer, not {type(value).__name__} "
                        f"({value!r}){hint}")
    return operator.index(value)


def _in_range(value, name, low, high, why=""):
    if not low <= value <= high:
        raise ValueError(f"{name} must be from {low} to {high}{why}, not {value}")
    return value


def _p(value):
    return _in_range(_integer(value, "p"), "p", 2, 97)


def _program(program):
    if not isinstance(program, str):
        raise TypeError(f"program must be a str, one of {', '.join(map(repr, PROGRAMS))}, "
                        f"not {type(program).__name__} ({program!r})")
    if program not in PROGRAMS:
        if program in _ALL_PROGRAMS:
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


def _read_p(text):
    """p as the programs read the digits of their first argument: the value,
    saturated at 2**63 - 1, cut to its low 32 bits as a signed integer."""
    digits = text.lstrip("0") or "0"
    value = (2**63 - 1 if len(digits) > 19 else min(int(digits), 2**63 - 1)) & 0xFFFFFFFF
    return value - 2**32 if value >= 2**31 else value


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
    p, N, nmin, program, p_text, q_total, f_total
        the run (see their own help).

    q_exact() and f_exact() give the excesses as exact fractions, write() the
    program's two files byte for byte, plot() a picture of both series.
    """

    __slots__ = ("_data", "_q", "_f")

    def __init__(self, data):
        self._data = data
        self._q = None
        self._f = None

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
    def p(self):
        """The bound on the primes, 2 to 97."""
        return self._data.p

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
        """The p text that names the files: str(p) for a run of scan(), the
        files' own for a run of read()."""
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
        """The Q-excess of every Q record, in order, as fractions.Fraction, exact.

        For morvane-x the exact rational C(n) - delta*n; for morvane and
        morvane-l the exact value of the binary number the program computed
        (binary64, or the 80-bit extended format), before any rounding for
        printing.
        """
        return self._data.exact("Q")

    def f_exact(self):
        """The F-excess of every F record, in order, as fractions.Fraction,
        exact; see q_exact()."""
        return self._data.exact("F")

    def write(self, folder=".", p_text=None):
        """Writes the two files the program writes for this run, byte for byte,
        into folder, and returns their paths (Q file, F file).

        The files are maxdevQ_<p text>-<nmin>.txt and maxdevF_<p text>-<nmin>.txt.
        p_text is the text of the program's first argument up to its first
        non-digit: digits only, possibly none (the programs' "+7" or " 7" leave
        none), and read back as p; by default the run's own (str(p) for a run
        of scan()). Each file is written beside its name and renamed over it
        when complete, so a failure (OSError) leaves no half-written file.
        """
        folder = _path(folder, "folder")
        if p_text is None:
            p_text = self.p_text
        if not isinstance(p_text, str):
            raise TypeError(f"p_text must be a str of digits, not {type(p_text).__name__} "
                            f"({p_text!r})")
        if not all("0" <= c <= "9" for c in p_text):
            raise ValueError(f"p_text must be digits only (the first argument up to its "
                             f"first non-digit), not {_shown(p_text)}")
        if p_text and _read_p(p_text) != self.p:
            raise ValueError(f"p_text {_shown(p_text)} gives p = {_read_p(p_text)}, "
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
        ax.set_title(f"{self.program}: p = {self.p}, N = {self.N}, nmin = {self.nmin}")
        ax.legend()
        return ax

    def __repr__(self):
        return (f"<morvane.Run {self.program} p={self.p} N={self.N} nmin={self.nmin}: "
                f"{len(self.q)} Q records, {len(self.f)} F records>")


def scan(p, N=900, nmin=1, program="morvane-x", jobs=1):
    """Runs the experiment "program p N nmin" in this process and returns its
    records as a Run: the records of exactly the files the program writes.

    p        the bound on the primes, 2 to 97 (it need not be prime)
    N        the last n, from 2; below 2**32 for morvane, 2**64 otherwise
    nmin     the first n that may hold a record, 0 to N (0 scans like 1)
    program  "morvane", "morvane-l" or "morvane-x" (the exact excess)
    jobs     threads: the run is cut into windows, scanned on that many
             threads and merged exactly, as morvane-merge merges window runs

    Arguments are Python integers (or integer types such as numpy's); anything
    else raises TypeError, and a value out of range ValueError, naming the
    argument. The scan runs the programs' fast engine without holding the GIL;
    Ctrl-C stops it within about a second with KeyboardInterrupt.

        >>> run = morvane.scan(97, 10**6, program="morvane")
        >>> len(run.q), len(run.f)
        (81, 92)
    """
    p = _p(p)
    N = _integer(N, "N")
    nmin = _integer(nmin, "nmin")
    program = _program(program)
    jobs = _integer(jobs, "jobs")
    largest = _LARGEST_N[program]
    if N < 2:
        raise ValueError(f"N must be at least 2, not {N}")
    if N > largest:
        bits = 32 if largest < 2**32 else 64
        other = ("; morvane-l and morvane-x count to 2**64 - 1" if program == "morvane" else "")
        raise ValueError(f"N = {N} is beyond {program}'s {bits}-bit counts "
                         f"(at most {largest}){other}")
    _in_range(nmin, "nmin", 0, N, " (N)")
    _in_range(jobs, "jobs", 1, _MOST_JOBS)
    return Run(_core.scan(program, p, N, nmin, jobs))


def read(q_file, f_file, program="morvane-x", p=None):
    """Reads the Q and F record files of one run of program into a Run.

    Every line is checked as morvane-merge checks its inputs: the names
    (maxdevQ_<p text>-<nmin>.txt and maxdevF_ with the same p text and nmin),
    the lines as the program prints them, every excess recomputed from its n
    and count in the program's arithmetic and beating the one before, and both
    files complete, ending with summary lines that agree. A fault raises
    ValueError naming the file and the line. p is needed only where the p text
    is empty (the files of a first argument such as +7).
    """
    q_file = _path(q_file, "q_file")
    f_file = _path(f_file, "f_file")
    program = _program(program)
    if p is not None:
        p = _p(p)
    return Run(_core.read(program, q_file, f_file, p))


def q_count(x, p):
    """C(x), the number of Q-numbers in [1, x] for the primes up to p, exactly,
    by inclusion and exclusion over the squarefree products d of those primes:
    x - sum of mu(d) * floor(x / d**2). x from 0 to 2**64 - 1."""
    x = _in_range(_integer(x, "x"), "x", 0, 2**64 - 1)
    return _core.q_count(x, _p(p))


def density(p):
    """delta = 1 - (1 - 1/4)(1 - 1/9)...(1 - 1/q**2) over the primes q up to p,
    the density of the Q-numbers, as an exact fractions.Fraction."""
    return _core.density(_p(p))
