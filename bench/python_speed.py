#!/usr/bin/env python3
"""The Python module's scan against the program it follows, in one run.

For each case: the built program as a process (its files written into a
scratch folder), then morvane.scan() with jobs=1 and jobs=2 in this process,
each the best of a few runs, alternating; the ratios are against the program.

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_speed.py BUILD [repeats]
"""
import os
import subprocess
import sys
import tempfile
import time

import morvane

CASES = [
    ("morvane", 97, 4 * 10**9),
    ("morvane-l", 97, 2 * 10**10),
    ("morvane-x", 97, 2 * 10**10),
    ("morvane-l", 3, 4 * 10**9),
]


def best(runs):
    return min(runs)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    print(f"{'run':28} {'program':>9} {'jobs=1':>9} {'ratio':>6} {'jobs=2':>9} {'ratio':>6}")
    for program, p, N in CASES:
        if program not in morvane.PROGRAMS:
            continue
        times = {"program": [], 1: [], 2: []}
        with tempfile.TemporaryDirectory() as folder:
            for _ in range(repeats):
                start = time.perf_counter()
                subprocess.run([f"{build}/{program}", str(p), str(N)], cwd=folder, check=True)
                times["program"].append(time.perf_counter() - start)
                for jobs in (1, 2):
                    start = time.perf_counter()
                    morvane.scan(p, N, program=program, jobs=jobs)
                    times[jobs].append(time.perf_counter() - start)
        base = best(times["program"])
        one, two = best(times[1]), best(times[2])
        print(f"{program + ' ' + str(p) + ' ' + format(N, '.0e'):28} {base:8.3f}s {one:8.3f}s "
              f"{one / base:6.2f} {two:8.3f}s {two / base:6.2f}")


if __name__ == "__main__":
    main()
