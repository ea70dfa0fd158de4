"""The exact values against independent arithmetic: q_exact() and f_exact()
against rationals (morvane-x) and against the programs' binary arithmetic
redone here (binary64 in Python floats, the extended format in numpy's
longdouble); q_count() against counting; density() against the product."""
import math
from fractions import Fraction

import numpy
import pytest

import morvane

PRIMES = [2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67, 71, 73,
          79, 83, 89, 97]


def squares(p):
    return [q * q for q in PRIMES if q <= p]


def is_q(n, p):
    return any(n % s == 0 for s in squares(p))


def true_density(p):
    product = Fraction(1)
    for s in squares(p):
        product *= 1 - Fraction(1, s)
    return 1 - product


def float_density(p, kind):
    # As the programs form it: each factor in binary64, the product and the
    # difference in the profile's format, each operation rounded on its own.
    product = kind(1)
    for s in squares(p):
        product = kind(1.0 - 1.0 / float(s)) * product
    return kind(1) - product


def as_fraction(value):
    return Fraction(*value.as_integer_ratio())


def excess(program, p, n, count):
    """The Q-excess at n as program computes it, exactly."""
    if program == "morvane-x":
        return count - true_density(p) * n
    kind = float if program == "morvane" else numpy.longdouble
    delta = float_density(p, kind)
    return as_fraction(kind(count) - delta * kind(n))


CASES = [(2, 10, 1), (3, 900, 1), (13, 10**5, 1), (97, 10**5, 1), (97, 2**32 - 1, 2**32 - 20000)]
WIDE = [(97, 10**15 + 20000, 10**15), (7, 2**64 - 1, 2**64 - 20000)]


@pytest.mark.parametrize("p, N, nmin", CASES + WIDE)
def test_exact_excesses_are_the_programs_arithmetic(program, p, N, nmin):
    if program == "morvane" and N >= 2**32:
        pytest.skip("beyond morvane's counts")
    run = morvane.scan(p, N, nmin, program=program)
    count_below = morvane.q_count(max(nmin, 1) - 1, p)
    for rows, values, sign in ((run.q, run.q_exact(), 1), (run.f, run.f_exact(), -1)):
        assert all(isinstance(v, Fraction) for v in values)
        for row, value in zip(rows, values, strict=True):
            n = int(row["n"])
            c = int(row["count"]) if sign == 1 else n - int(row["count"])
            assert value == sign * excess(program, p, n, c)
            assert is_q(n, p) == (sign == 1)
            if n - nmin < 5000:  # C(n) itself, by counting from the window's start
                assert c == count_below + sum(is_q(m, p) for m in range(max(nmin, 1), n + 1))
    # The exact excess rounded to the nearest binary64 value.
    if program == "morvane-x":
        for rows, values in ((run.q, run.q_exact()), (run.f, run.f_exact())):
            for row, value in zip(rows, values):
                x = float(row["excess"])
                assert all(abs(Fraction(x) - value) <= abs(Fraction(math.nextafter(x, t)) - value)
                           for t in (math.inf, -math.inf))


def test_the_exact_records_beat_each_other_strictly():
    run = morvane.scan(97, 10**6)
    for values in (run.q_exact(), run.f_exact()):
        assert all(a < b for a, b in zip(values, values[1:]))
    assert run.q_exact()[0] > Fraction(-1, 10**12) and run.f_exact()[0] > 0


@pytest.mark.parametrize("p", [2, 3, 5, 10, 11, 31, 97])
def test_q_count_against_counting(p):
    walked, count = {}, 0
    for n in range(1, 30001):
        count += is_q(n, p)
        walked[n] = count
    assert morvane.q_count(0, p) == 0
    for x in list(range(1, 200)) + [999, 1000, 4096, 12345, 29999, 30000]:
        assert morvane.q_count(x, p) == walked[x]
    # Far out: the count over a stretch against direct divisibility.
    for top in (10**12, 2**63, 2**64 - 1):
        low = top - 3000
        assert morvane.q_count(top, p) - morvane.q_count(low, p) == sum(
            is_q(n, p) for n in range(low + 1, top + 1))


def test_q_count_against_the_densitys_bound():
    # |C(x) - delta x| is below 2^25 for every x (inclusion and exclusion has
    # at most 2^25 terms, each off by less than 1).
    for p in (2, 13, 97):
        for x in (10**9, 10**15, 2**64 - 1):
            assert abs(morvane.q_count(x, p) - true_density(p) * x) < 2**25


@pytest.mark.parametrize("p", range(2, 98))
def test_density_is_the_product(p):
    assert morvane.density(p) == true_density(p)
    assert isinstance(morvane.density(p), Fraction)


def test_density_edges():
    assert morvane.density(2) == Fraction(1, 4)
    assert morvane.density(3) == Fraction(1, 3)   # 1 - 3/4 * 8/9
    assert morvane.density(96) == morvane.density(89)
