#!/usr/bin/env python3
"""morvane-x for other sets and powers against an independent computation.

For each case the record files are computed here: which n are Q-numbers from
PARI/GP's factorisations (gp, Debian pari-gp), C below the window from
inclusion and exclusion (term by term for a finite p, a Moebius sieve of its
own for every prime; below 10^18 + 1 for squares, the published count of
squarefree numbers), delta as an exact Fraction for a finite p and, for every
prime, as an interval around 1 - 1/zeta(K) from mpmath at 600 bits. Every
comparison and every rounding to twelve decimals must be decided by both ends
of that interval alike. Then morvane-x runs the same case in a scratch folder
and both files must agree byte for byte.

    kfree_reference.py MORVANE_X
"""
import os
import subprocess
import sys
import tempfile
from fractions import Fraction

import mpmath

from exact_reference import argument

TOP = 2**64 - 1


def primes_up_to(x):
    sieve = bytearray([1]) * (x + 1)
    sieve[0:2] = b"\0\0"
    for q in range(2, int(x**0.5) + 1):
        if sieve[q]:
            sieve[q * q::q] = bytearray(len(range(q * q, x + 1, q)))
    return [q for q in range(x + 1) if sieve[q]]


def iroot(x, k):
    r = int(round(x ** (1.0 / k)))
    while r**k > x:
        r -= 1
    while (r + 1) ** k <= x:
        r += 1
    return r


def density(p, k):
    """delta as (low, high) Fractions: equal for a finite p."""
    if p != "all":
        product = Fraction(1)
        for q in primes_up_to(int(p)):
            product *= 1 - Fraction(1, q**k)
        return 1 - product, 1 - product
    mpmath.mp.prec = 600
    man, exp = mpmath.zeta(k).man_exp
    z = Fraction(man) * Fraction(2) ** exp
    eps = Fraction(1, 2**560)  # far beyond mpmath's error at 600 bits
    return 1 - 1 / (z - eps), 1 - 1 / (z + eps)


def mobius_up_to(D):
    mu = [1] * (D + 1)
    composite = bytearray(D + 1)
    for q in range(2, D + 1):
        if composite[q]:
            continue
        for m in range(q, D + 1, q):
            composite[m] = 1
            mu[m] = -mu[m]
        for m in range(q * q, D + 1, q * q):
            mu[m] = 0
    return mu


# Squarefree numbers up to 10^18, published (OEIS A071172): a sum over 10^9 d
# is beyond this script.
PUBLISHED_FREE = {(10**18, 2): 607927101854022750}


def count_below(x, p, k):
    """C(x) = x minus the sum of mu(d) * (x // d^k) over the squarefree d of the set."""
    if p == "all" and (x, k) in PUBLISHED_FREE:
        return x - PUBLISHED_FREE[(x, k)]
    D = iroot(x, k)
    if p == "all":
        mu = mobius_up_to(D)
        return x - sum(mu[d] * (x // d**k) for d in range(1, D + 1) if mu[d])
    primes = [q for q in primes_up_to(min(int(p), D))]

    def free(start, d_power, sign):
        total = sign * (x // d_power)
        for j in range(start, len(primes)):
            e = d_power * primes[j] ** k
            if e > x:
                break
            total += free(j + 1, e, -sign)
        return total
    return x - free(0, 1, 1)


def q_flags(first, last, p, k):
    """1 where q^k divides n for a prime q of the set, for n = first..last, by gp."""
    bound = "oo" if p == "all" else p
    script = ("a=%d;b=%d;P=%s;K=%d;print(Strchr(vector(b-a+1,i,my(f=factor(a+i-1));"
              "48+(sum(j=1,#f~,f[j,1]<=P&&f[j,2]>=K)>0))));\n" % (first, last, bound, k))
    done = subprocess.run(["gp", "-q", "-f", "--default", "parisizemax=1000000000"],
                          input=script.encode(), capture_output=True, check=True)
    text = done.stdout.decode().strip()
    assert len(text) == last - first + 1, done
    return [c == "1" for c in text]


def sign(a, b, delta):
    """The sign of a - delta * b, decided by both ends of delta's interval."""
    low = a - delta[0] * b
    high = a - delta[1] * b
    s_low = (low > 0) - (low < 0)
    s_high = (high > 0) - (high < 0)
    assert s_low == s_high, "not decided"
    return s_low


def twelve_decimals(c, n, delta, negate):
    """%.12f of +-(c - delta n), rounded half to even, decided on both ends."""
    texts = set()
    for d in delta:
        x = c - d * n
        if negate:
            x = -x
        scaled = abs(x) * 10**12
        r = scaled.numerator // scaled.denominator
        rest = scaled - r
        if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and r % 2):
            r += 1
        texts.add("%s%d.%012d" % ("-" if x < 0 else "", r // 10**12, r % 10**12))
    assert len(texts) == 1, "rounding not decided"
    return texts.pop()


def reference(p, k, N, nmin):
    delta = density(p, k)
    first = max(nmin, 1)
    count = count_below(first - 1, p, k)
    flags = q_flags(first, N, p, k)
    max_q = None  # the running maximum: (n, count), or None for -10^-12
    min_e = (0, 0)  # the running minimum of the excess: x = 0 to begin with
    q_lines, f_lines = [], []
    for i, n in enumerate(range(first, N + 1)):
        is_q = flags[i]
        count += is_q
        if is_q:
            # x(n) > maxQ: c - delta n > c0 - delta n0, or > -10^-12 at first.
            beats = (sign(count - max_q[1], n - max_q[0], delta) > 0 if max_q else
                     sign(10**12 * count + 1, 10**12 * n, delta) > 0)
            if beats:
                max_q = (n, count)
                q_lines.append("%d %d %s\n" % (n, count, twelve_decimals(count, n, delta, False)))
        elif sign(count - min_e[1], n - min_e[0], delta) < 0:
            min_e = (n, count)
            f_lines.append("%d %d %s\n" % (n, n - count, twelve_decimals(count, n, delta, True)))
    q_lines.append("%d %d\n" % (N, count))
    f_lines.append("%d %d\n" % (N, N - count))
    return "".join(q_lines), "".join(f_lines)


def cases():
    for p, k, N in (("2", 3, 3000), ("13", 2, 6000), ("97", 2, 12000), ("98", 2, 12000),
                    ("101", 2, 20000), ("1000", 2, 20000), ("all", 2, 20000),
                    ("all", 3, 20000), ("all", 4, 8000), ("all", 7, 8000), ("13", 7, 4000),
                    ("2", 13, 3000)):
        yield p, k, N, 1
    far = ((2**32 - 1500, (("all", 2), ("1000", 2), ("all", 3), ("101", 2))),
           (10**12, (("all", 2), ("98", 2), ("all", 3), ("all", 7))),
           (10**15, (("all", 3), ("97", 4), ("13", 2))),
           (10**18, (("all", 3), ("all", 4), ("13", 2), ("all", 7))),
           (10**18 + 1, (("all", 2),)),
           (TOP - 1500, (("all", 3), ("all", 4), ("101", 2))))
    for start, sets in far:
        for p, k in sets:
            yield p, k, min(start + 1500, TOP), start


def main():
    program = os.path.abspath(sys.argv[1])
    failures = 0
    total = 0
    for p, k, N, nmin in cases():
        total += 1
        p_text = p if k == 2 else "%sk%d" % (p, k)
        with tempfile.TemporaryDirectory() as folder:
            run = subprocess.run([program, "-k", str(k), p, argument(N), argument(nmin)],
                                 cwd=folder, capture_output=True)
            got = []
            for kind in "QF":
                name = os.path.join(folder, "maxdev%s_%s-%d.txt" % (kind, p_text, nmin))
                with open(name) as f:
                    got.append(f.read())
        want = reference(p, k, N, nmin)
        same = run.returncode == 0 and not run.stdout and tuple(got) == want
        print("%s: morvane-x -k %d %s %d %d" % ("ok" if same else "FAILED", k, p, N, nmin))
        if not same:
            print(run.stdout.decode(), "--- got\n%s%s--- want\n%s%s" % (got[0], got[1], want[0], want[1]))
        failures += not same
    print("%d passed, %d failed" % (total - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
