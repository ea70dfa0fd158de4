#!/usr/bin/python3
"""Times morvane-x over builds that differ only in where the code lies.

A change of a few percent in the engine's speed can be the processor's branch
prediction meeting the code at other addresses rather than the change itself:
builds of the same source with an unused function of 0, 40, 80 or 120 lines
placed before the engine (core/instances/exact.cpp) run the same scan up to 8%
apart. This builds each revision given at each of those placements (the
library and morvane-x, Release, in a folder of its own under --work), then runs
every command of every build in turn, in a fresh random order each round, and
prints each one's median CPU seconds (user + system of the finished child)
against the first's, and the mean over the placements.

    bench/placement_speed.py --rev d8aaae7 --rev HEAD 'all 10000000000' '-r all 10000000000'
"""
import argparse
import os
import random
import resource
import shlex
import statistics
import subprocess
import sys

PADS = (0, 40, 80, 120)
MARK = "namespace morvane {\n"


def pad_source(lines):
    body = "".join(f"    x = x * {7 * i + 3} + (x >> {i % 13 + 1});\n" for i in range(lines))
    return ("[[gnu::noinline, gnu::used]] unsigned long layout_pad(unsigned long x) {\n"
            + body + "    return x;\n}\n")


def build(repo, rev, work, jobs):
    """The library of rev at each placement: {pad: folder holding libmorvane.so.1}."""
    tree = os.path.join(work, rev.replace("/", "_"))
    if not os.path.isdir(tree):
        # A clone of the committed revision: the checkout's own files are not touched.
        commit = subprocess.run(["git", "-C", repo, "rev-parse", rev], check=True,
                                capture_output=True, text=True).stdout.strip()
        subprocess.run(["git", "clone", "-q", repo, tree], check=True)
        subprocess.run(["git", "-C", tree, "checkout", "-q", commit], check=True)
    source = os.path.join(tree, "core/instances/exact.cpp")
    subprocess.run(["git", "-C", tree, "checkout", "--", "core/instances/exact.cpp"], check=True)
    original = open(source).read()
    if MARK not in original:
        sys.exit(f"placement_speed: no '{MARK.strip()}' in {source}")
    folder = os.path.join(tree, "build")
    subprocess.run(["cmake", "-S", tree, "-B", folder, "-DCMAKE_BUILD_TYPE=Release",
                    "-DMORVANE_PYTHON=OFF", "-DMORVANE_BENCH=OFF"], check=True,
                   stdout=subprocess.DEVNULL)
    libraries = {}
    try:
        for lines in PADS:
            with open(source, "w") as out:
                out.write(original.replace(MARK, MARK + pad_source(lines), 1) if lines else original)
            subprocess.run(["cmake", "--build", folder, "-j", str(jobs), "--target", "morvane-x"],
                           check=True, stdout=subprocess.DEVNULL)
            kept = os.path.join(work, f"{rev.replace('/', '_')}-{lines}")
            os.makedirs(kept, exist_ok=True)
            with open(os.path.join(folder, "libmorvane.so.1"), "rb") as lib:
                data = lib.read()
            with open(os.path.join(kept, "libmorvane.so.1"), "wb") as lib:
                lib.write(data)
            libraries[lines] = kept
    finally:
        with open(source, "w") as out:
            out.write(original)
    return os.path.join(folder, "morvane-x"), libraries


def cpu_seconds(program, library, arguments, folder):
    environment = dict(os.environ, LD_LIBRARY_PATH=library)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([program] + shlex.split(arguments), cwd=folder, env=environment, check=True,
                   stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rev", action="append", required=True, help="a revision (repeatable)")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--work", default="/tmp/placement_speed")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("arguments", nargs="+", help="morvane-x's arguments, one string each")
    options = parser.parse_args()
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    os.makedirs(os.path.join(options.work, "run"), exist_ok=True)
    runs = []  # (rev, pad, arguments, program, library)
    for rev in options.rev:
        program, libraries = build(repo, rev, options.work, options.jobs)
        for lines in PADS:
            for arguments in options.arguments:
                runs.append((rev, lines, arguments, program, libraries[lines]))
    times = {run[:3]: [] for run in runs}
    folder = os.path.join(options.work, "run")
    for _ in range(options.rounds):
        for run in random.sample(runs, len(runs)):
            times[run[:3]].append(cpu_seconds(run[3], run[4], run[2], folder))
    first = statistics.median(times[runs[0][:3]])
    print(f"{options.rounds} rounds; median CPU seconds and their ratio to the first line's")
    for rev in options.rev:
        for arguments in options.arguments:
            ratios = []
            for lines in PADS:
                median = statistics.median(times[(rev, lines, arguments)])
                ratios.append(median / first)
                print(f"{rev:>10}  pad {lines:3}  {median:8.4f} s  {median / first:6.3f}  {arguments}")
            print(f"{rev:>10}  mean      {'':10}  {statistics.mean(ratios):6.3f}  {arguments}")


if __name__ == "__main__":
    main()
