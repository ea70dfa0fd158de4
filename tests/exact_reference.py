#!/usr/bin/env python3
"""morvane-x against an independent exact computation.

For each case, the record files are computed here with Python's own rationals:
delta as a Fraction over each p's own denominator prod q^2, C(n) from trial
division (and, for a window far out, from inclusion and exclusion over the
squarefree products), every excess compared as a Fraction, and every printed
value rounded with Decimal arithmetic at a precision where it is exact. Then
morvane-x runs the same case in a scratch folder and both files must agree byte
for byte.

    exact_reference.py MORVANE_X
"""
import decimal
import os
import subprocess
import sys
import tempfile
from fractions import Fraction

PRIMES = [2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67,
          71, 73, 79, 83, 89, 97]
TOP = 2**64 - 1


def active_primes(p):
    return [q for q in PRIMES if q <= p]


def density(p):
    product = Fraction(1)
    for q in active_primes(p):
        product *= 1 - Fraction(1, q * q)
    return 1 - product


def count_below(x, primes):
    """C(x): n <= x with a square of one of the primes dividing n, as x minus
    the sum of mu(d) * (x // d^2) over the squarefree products d of the primes
    (only d^2 <= x add anything)."""
    def free(start, d_squared, sign):
        total = sign * (x // d_squared)
        for k in range(start, len(primes)):
            e = d_squared * primes[k] ** 2
            if e > x:
                break
            total += free(k + 1, e, -sign)
        return total
    return x - free(0, 1, 1)


def twelve_decimals(value):
    """%.12f of an exact rational, rounded to nearest."""
    ctx = decimal.Context(prec=200, rounding=decimal.ROUND_HALF_EVEN)
    quotient = ctx.divide(decimal.Decimal(value.numerator), decimal.Decimal(value.denominator))
    text = format(quotient.quantize(decimal.Decimal("1e-12"), context=ctx), "f")
    if value < 0 and not text.startswith("-"):
        text = "-" + text
    return text


def reference(p_text, N, nmin):
    p = int(p_text)
    primes = active_primes(p)
    squares = [q * q for q in primes]
    delta = density(p)
    first = max(nmin, 1)
    count = count_below(first - 1, primes)
    max_q = Fraction(-1, 10**12)
    min_e = Fraction(0)
    q_lines, f_lines = [], []
    for n in range(first, N + 1):
        is_q = any(n % s == 0 for s in squares)
        count += is_q
        e = count - delta * n
        if is_q and e > max_q:
            max_q = e
            q_lines.append("%d %d %s\n" % (n, count, twelve_decimals(e)))
        elif not is_q and e < min_e:
            min_e = e
            f_lines.append("%d %d %s\n" % (n, n - count, twelve_decimals(-e)))
    q_lines.append("%d %d\n" % (N, count))
    f_lines.append("%d %d\n" % (N, N - count))
    return "".join(q_lines), "".join(f_lines)


def cases():
    yield "2", 10, 1
    yield "3", 900, 1
    yield "097", 900, 0
    yield "67", 900, 1
    yield "97", 900, 1
    for p in (3, 5, 7, 13, 29, 97):
        yield str(p), 20000, 1
    for start in (2**32 - 3000, 10**12, 10**15, 10**18, 2**63 + 5):
        for p in (3, 13, 97):
            yield str(p), start + 3000, start
    for p in (2, 3, 29, 97):
        yield str(p), TOP, TOP - 4000


def argument(value):
    """The text the programs read as this 64-bit count: strtoll saturates at
    2^63 - 1, so counts above it are given as negative numbers."""
    return str(value - 2**64 if value >= 2**63 else value)


def main():
    program = os.path.abspath(sys.argv[1])
    failures = 0
    for p_text, N, nmin in cases():
        with tempfile.TemporaryDirectory() as folder:
            run = subprocess.run([program, p_text, argument(N), argument(nmin)], cwd=folder,
                                 capture_output=True)
            got = []
            for kind in "QF":
                name = os.path.join(folder, "maxdev%s_%s-%d.txt" % (kind, p_text, nmin))
                with open(name) as f:
                    got.append(f.read())
        want = reference(p_text, N, nmin)
        same = run.returncode == 0 and not run.stdout and tuple(got) == want
        print("%s: morvane-x %s %d %d" % ("ok" if same else "FAILED", p_text, N, nmin))
        failures += not same
    print("%d passed, %d failed" % (len(list(cases())) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
