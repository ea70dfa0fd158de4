"""Runs in windows on several threads, merged: the records of one run,
whatever the windows' length, across window edges and for tie-heavy p."""
import pytest

import morvane
from morvane import _core
from conftest import program_files

TOP32 = 2**32 - 1
TOP64 = 2**64 - 1


def records(run):
    return (run.q.tolist(), run.f.tolist(), run.q_exact(), run.f_exact(), run.q_total)


def windowed(program, p, N, nmin, jobs, window, chunk=0):
    """The run through the module's own scan, with windows and chunks of a
    chosen length."""
    return morvane.Run(_core.scan(program, p, N, nmin, jobs, window, chunk))


# p = 2 ties its Q record at every Q-number, p = 3 and 4 repeat every 36 n,
# p = 5 every 900; a window that starts on a tie must not record it again.
@pytest.mark.parametrize("p", [2, 3, 4, 5, 7, 13, 97])
@pytest.mark.parametrize("nmin", [0, 1, 37, 5000])
def test_windows_of_every_length_merge_into_one_run(program, p, nmin):
    # Each window costs a set-up of the engine, so the shortest go on short runs.
    for N, windows in ((400, (1, 7)), (3000, (36, 64)), (40000, (999, 4096, 40000))):
        if nmin > N:
            continue
        one = records(morvane.scan(p, N, nmin, program=program))
        for window in windows:
            for jobs in (1, 2, 3):
                assert records(windowed(program, p, N, nmin, jobs, window)) == one, (N, window, jobs)
        # One window scanned in chunks, which the engine continues from the
        # scan state alone; a chunk of 1 ends within every word.
        for chunk in (1, 63, 64, 4096, 32768 + 7):
            if N // chunk <= 400:
                assert records(windowed(program, p, N, nmin, 1, N, chunk)) == one, (N, chunk)
        assert records(windowed(program, p, N, nmin, 2, 999, 100)) == one, N


def far_cases(program):
    cases = [(97, TOP32, TOP32 - 50000), (3, TOP32, TOP32 - 50000)]
    if program != "morvane":
        cases += [(97, 2**32 + 30000, 2**32 - 30000), (3, TOP64, TOP64 - 3000),
                  (97, TOP64, TOP64 - 30000), (2, 10**18 + 5000, 10**18)]
    return cases


def test_far_windows_merge_into_the_programs_files(tmp_path, program):
    for p, N, nmin in far_cases(program):
        expected = program_files(tmp_path / f"{p}-{nmin}", program, p, N, nmin)
        for window, chunk in ((1000, 0), (4099, 0), (N, 1000), (9999, 257)):
            run = windowed(program, p, N, nmin, 2, window, chunk)
            out = tmp_path / f"{p}-{nmin}-{window}-{chunk}"
            out.mkdir()
            q_path, f_path = run.write(out)
            assert (open(q_path, "rb").read(), open(f_path, "rb").read()) == expected


@pytest.mark.parametrize("p, N", [(97, 3 * 10**8), (3, 10**8), (13, 2 * 10**8)])
def test_two_jobs_give_the_records_of_one(program, p, N):
    # Long enough for several default windows on two threads.
    one = morvane.scan(p, N, program=program)
    two = morvane.scan(p, N, program=program, jobs=2)
    assert records(two) == records(one)


def test_the_exact_excess_stops_after_one_period(tmp_path):
    # p = 3: the exact excess repeats every 36 n, so a run to the top costs one
    # period, on any number of threads, and C(N) is counted without walking.
    run = morvane.scan(3, TOP64, program="morvane-x", jobs=2)
    assert run.f["n"].tolist() == [1, 2, 3, 7] and run.q["n"].tolist() == [9, 20, 28]
    assert run.q_total == morvane.q_count(TOP64, 3)
