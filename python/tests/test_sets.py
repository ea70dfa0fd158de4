"""morvane-x's other sets and powers from Python: every prime, bounds beyond
97, powers beyond squares. Runs against the program's files and against
C(n) - delta*n worked out with mpmath and fractions; C(x) against the
published counts of squarefree and cubefree numbers; delta against zeta and
against the product; the refusals."""
import decimal
import os
from fractions import Fraction

import mpmath
import numpy
import pytest

import morvane
from conftest import program_files

TOP64 = 2**64 - 1

RUNS = [  # p, k, N, nmin
    ("all", 3, 10**5, 1),
    ("all", 3, 10**15 + 10**5, 10**15),
    ("all", 2, 10**12 + 10**5, 10**12),
    ("all", 5, TOP64, TOP64 - 10**5),
    (1000, 2, 10**5, 1),
    (13, 4, 10**6, 1),
    # No exact fraction: delta from its enclosure; 2^63 is the first Q-number,
    # where C(n) - delta*n nearly cancels.
    (200000, 63, 2**63 + 3000, 2**63 - 3000),
]


def primes_to(p):
    sieve = numpy.ones(p + 1, dtype=bool)
    sieve[:2] = False
    for q in range(2, int(p**0.5) + 1):
        if sieve[q]:
            sieve[q * q::q] = False
    return [int(q) for q in numpy.flatnonzero(sieve)]


def true_delta(p, k):
    """delta as a Fraction (a small finite set) or an mpf at the working
    precision (every prime; a large set)."""
    if p == "all":
        return 1 - 1 / mpmath.zeta(k)
    if p * k <= 10**6:
        product = Fraction(1)
        for q in primes_to(p):
            product *= 1 - Fraction(1, q**k)
        return 1 - product
    return 1 - mpmath.fprod(1 - mpmath.mpf(q) ** -k for q in primes_to(p))


def rounded(x, digits):
    """An mpf rounded to nearest to `digits` significant digits, as a Decimal."""
    with decimal.localcontext(decimal.Context(prec=digits, rounding=decimal.ROUND_HALF_EVEN)):
        return +decimal.Decimal(mpmath.nstr(x, digits + 20, strip_zeros=False))


@pytest.mark.parametrize("p, k, N, nmin", RUNS)
def test_runs_are_the_programs_files_and_values(tmp_path, p, k, N, nmin):
    expected = program_files(tmp_path / "program", "morvane-x", p, N, nmin, k=k)
    text = f"{p}" + ("" if k == 2 else f"k{k}")
    names = [f"maxdev{kind}_{text}-{nmin}.txt" for kind in "QF"]
    for jobs in (1, 2):
        run = morvane.scan(p, N, nmin, jobs=jobs, k=k)
        assert (run.p, run.k, run.p_text, run.N, run.nmin) == (p, k, text, N, nmin)
        (tmp_path / str(jobs)).mkdir()
        paths = run.write(tmp_path / str(jobs))
        assert [os.path.basename(path) for path in paths] == names
        assert tuple(open(path, "rb").read() for path in paths) == expected
    again = morvane.read(*(tmp_path / "program" / name for name in names), p=p, k=k)
    assert (again.p, again.k, again.p_text) == (p, k, text)
    assert again.q.tolist() == run.q.tolist() and again.f.tolist() == run.f.tolist()

    # Each excess from n and C(n) with an independent delta: 100 digits leave
    # 80 after the cancellation of C(n) against delta*n (n < 2^64).
    with mpmath.workdps(100):
        delta = true_delta(p, k)
        exact = p == "all" or p * k <= 10**6
        for rows, values, sign in ((run.q, run.q_exact() if exact else None, 1),
                                   (run.f, run.f_exact() if exact else None, -1)):
            for i, (n, count, excess) in enumerate(rows.tolist()):
                x = sign * ((count if sign == 1 else n - count) - delta * n)
                if isinstance(x, Fraction):
                    assert values[i] == x and excess == float(x)
                    continue
                assert excess == float(rounded(x, 40))
                if p == "all":
                    assert values[i] == rounded(x, 50) and len(values[i].as_tuple().digits) == 50
    if not exact:
        with pytest.raises(ValueError, match=r"for p \* k up to 10\*\*6 .*not p = 200000, k = 63$"):
            run.q_exact()


# Squarefree numbers up to 10^n, n = 1..10 (OEIS A071172), and cubefree
# numbers up to 10^n, n = 1..18 (A160112): C(x) counts the others.
SQUAREFREE = [7, 61, 608, 6083, 60794, 607926, 6079291, 60792694, 607927124, 6079270942]
CUBEFREE = [9, 85, 833, 8319, 83190, 831910, 8319081, 83190727, 831907372, 8319073719,
            83190737244, 831907372522, 8319073725828, 83190737258105, 831907372580692,
            8319073725807178, 83190737258070643, 831907372580707771]


def test_q_count_against_the_published_counts_of_k_free_numbers():
    for k, counts in ((2, SQUAREFREE), (3, CUBEFREE)):
        for n, free in enumerate(counts, start=1):
            assert morvane.q_count(10**n, "all", k) == 10**n - free, (k, n)
    # Every prime against the primes up to the k-th root of x, and beyond; the
    # largest of them, q, counts.
    for x, k, root, q in ((10**12, 2, 10**6, 999983), (TOP64, 3, 2642245, 2642239),
                          (TOP64, 7, 565, 563)):
        every = morvane.q_count(x, "all", k)
        assert every == morvane.q_count(x, root, k) == morvane.q_count(x, 2**32 - 1, k)
        assert every - morvane.q_count(x, q - 1, k) == x // q**k - x // q**k // q**k


def test_density_against_zeta_and_the_product():
    with mpmath.workdps(80):
        for k in range(2, 64):
            value = morvane.density("all", k)
            assert isinstance(value, decimal.Decimal) and len(value.as_tuple().digits) == 50
            assert value == rounded(1 - 1 / mpmath.zeta(k), 50), k
    for p, k in ((2, 63), (97, 2), (96, 7), (1000, 2), (13, 4), (10007, 3), (1000, 63)):
        value = morvane.density(p, k)
        assert isinstance(value, Fraction) and value == true_delta(p, k), (p, k)
    # A finite set's delta lies below that of every prime, by less than the
    # sum of q^-k over the primes beyond p (below 1/p for squares).
    gap = Fraction(morvane.density("all")) - morvane.density(10**4)
    assert 0 < gap < Fraction(1, 10**4)


@pytest.mark.parametrize("call, error, message", [
    (lambda: morvane.scan(1), ValueError, r'^p must be from 2 to 4294967295 \(or "all"\), not 1$'),
    (lambda: morvane.scan(2**32), ValueError, r"^p must be from 2 to 4294967295 .*, not 4294967296$"),
    (lambda: morvane.scan("al"), ValueError, r"""^p must be an integer or "all", not 'al'$"""),
    (lambda: morvane.scan(97, k=1), ValueError, r"^k must be from 2 to 63, not 1$"),
    (lambda: morvane.scan(97, k=64), ValueError, r"^k must be from 2 to 63, not 64$"),
    (lambda: morvane.scan(97, k=3.0), TypeError, r"^k must be an integer, not float"),
    (lambda: morvane.scan(97, k=3, program="morvane"), ValueError,
     r"^k must be 2 for morvane \(the squares\), not 3; morvane-x takes k from 2 to 63$"),
    (lambda: morvane.scan(101, program="morvane"), ValueError,
     r"^p must be from 2 to 97 for morvane, not 101; morvane-x takes p up to 4294967295"),
    (lambda: morvane.scan("all", program="morvane"), ValueError,
     r"""^p = "all" is morvane-x's alone: morvane takes p from 2 to 97$"""),
    (lambda: morvane.q_count(10, "all", 64), ValueError, r"^k must be from 2 to 63"),
    (lambda: morvane.density(500001), ValueError, r"p \* k up to 10\*\*6 .*p = 500001, k = 2$"),
    (lambda: morvane.density(1, 3), ValueError, r"^p must be from 2 to 4294967295"),
])
def test_refusals(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_names_and_the_p_text_of_a_set(tmp_path):
    program_files(tmp_path, "morvane-x", "all", 5000, 1, k=3)
    q, f = tmp_path / "maxdevQ_allk3-1.txt", tmp_path / "maxdevF_allk3-1.txt"
    assert (morvane.read(q, f).p, morvane.read(q, f, p="all", k=3).k) == ("all", 3)
    for kwargs, message in ((dict(k=2), r"allk3-1\.txt: its name gives k = 3, k= gives 2$"),
                            (dict(p=1000), r"its p text gives p = all, p= gives 1000$"),
                            (dict(p="all", program="morvane"), r'^p = "all" is morvane-x')):
        with pytest.raises(ValueError, match=message):
            morvane.read(q, f, **kwargs)
    # "-k 3 +5": a p text without digits, and p given beside it.
    program_files(tmp_path, "morvane-x", 5, 5000, 1, p_text="+5", k=3)
    q, f = tmp_path / "maxdevQ_k3-1.txt", tmp_path / "maxdevF_k3-1.txt"
    with pytest.raises(ValueError, match=r"maxdevQ_k3-1\.txt: the p text is empty .*with p=$"):
        morvane.read(q, f)
    run = morvane.read(q, f, p=5)
    assert (run.p, run.k, run.p_text) == (5, 3, "k3")
    (tmp_path / "again").mkdir()
    assert run.write(tmp_path / "again", "05k3")[0].endswith("maxdevQ_05k3-1.txt")
    for p_text, message in (("5", r"gives k = 2, not the run's k = 3$"),
                            ("5k03", r"^p_text must be digits or \"all\""),
                            ("5k2", r"^p_text must be digits or \"all\""),
                            ("allk3", r"gives p = all, not the run's p = 5$")):
        with pytest.raises(ValueError, match=message):
            run.write(tmp_path, p_text)
