"""The record runs of consecutive Q-numbers (morvane-x -r): the published
first ones, the program's third file byte for byte from windows of any length,
read back with every run proved, and refused for the other programs."""
import re
import subprocess
from pathlib import Path

import pytest

import morvane
from morvane import _core
from conftest import argument_text, program_path

TOP64 = 2**64 - 1


def test_the_published_first_record_runs():
    # The least starts of runs of 1, 2, ... non-squarefree numbers (OEIS
    # A045882): the first run of 10 is already one of 11.
    squares = morvane.scan("all", 10**9, runs=True, jobs=2)
    assert squares.runs.dtype == "uint64" and squares.runs.shape == (10, 2)
    assert squares.runs.tolist() == [[4, 1], [8, 2], [48, 3], [242, 4], [844, 5], [22020, 6],
                                     [217070, 7], [1092747, 8], [8870024, 9], [221167422, 11]]
    cubes = morvane.scan("all", 2 * 10**9, runs=True, jobs=2, k=3)
    assert cubes.runs.tolist() == [[8, 1], [80, 2], [1375, 3], [22624, 4], [18035622, 5]]
    plain = morvane.scan("all", 2 * 10**9, jobs=2, k=3)  # the rest is the same run
    assert plain.runs is None and (plain.q.tolist(), plain.f.tolist()) == (cubes.q.tolist(),
                                                                          cubes.f.tolist())
    assert repr(cubes).endswith(" F records, 5 record runs>") and "runs" not in repr(plain)


# (p, k, N, nmin, window lengths): cuts at nmin and N inside the run of 11,
# a cut at a period, a run without a record and the top of the counts.
CASES = [("all", 2, 10**7, 1, (4096, 100003)), ("all", 2, 221167440, 221167425, (1, 2, 5)),
         ("all", 2, 221167428, 221167000, (1, 7, 64)), ("all", 3, 10**6, 0, (999, 4096)),
         (97, 2, 10**6, 1000, (999, 33333)), (13, 4, 10**6, 1, (4096,)),
         (3, 2, TOP64, TOP64 - 2000, (1, 7, 36)), (2, 2, 3, 1, (1,)),
         ("all", 2, TOP64, TOP64 - 100000, ())]


@pytest.mark.parametrize("p, k, N, nmin, windows", CASES)
def test_write_is_the_programs_three_files(tmp_path, p, k, N, nmin, windows):
    subprocess.run([str(program_path("morvane-x")), "-r", "-k", str(k), str(p), argument_text(N),
                    argument_text(nmin)], cwd=tmp_path, check=True)
    expected = sorted((f.name, f.read_bytes()) for f in tmp_path.iterdir())
    bound = _core.every_prime if p == "all" else p
    for window in (0, *windows):
        run = (morvane.scan(p, N, nmin, jobs=2, k=k, runs=True) if window == 0 else
               morvane.Run(_core.scan("morvane-x", bound, N, nmin, 2, window, k=k, runs=True)))
        out = tmp_path / f"window-{window}"
        out.mkdir()
        paths = run.write(out)
        assert [Path(path).name[:7] for path in paths] == ["maxdevQ", "maxdevF", "maxrunQ"]
        assert sorted((f.name, f.read_bytes()) for f in out.iterdir()) == expected, window


def test_read_proves_the_runs(tmp_path):
    morvane.scan("all", 10**7, runs=True).write(tmp_path)
    q, f, r = (tmp_path / f"max{kind}_all-1.txt" for kind in ("devQ", "devF", "runQ"))
    run = morvane.read(q, f, runs_file=r)
    assert run.runs.tolist() == morvane.scan("all", 10**7, runs=True).runs.tolist()
    assert morvane.read(q, f).runs is None
    good = r.read_bytes()
    (tmp_path / "again").mkdir()
    run.write(tmp_path / "again")
    assert (tmp_path / "again" / r.name).read_bytes() == good
    for old, new, message in [
        (b"8870024 9\n10000000 9\n", b"8870024 10\n10000000 10\n",
         r"line 9: n = 8870033, in the run, is not a Q-number"),
        (b"242 4\n", b"243 4\n", r"line 4: n = 246, in the run, is not a Q-number"),
        (b"48 3\n", b"48 3 0\n", r'line 3: not a line of a run file \("n L"\)')]:
        assert old in good
        r.write_bytes(good.replace(old, new))
        with pytest.raises(ValueError, match=rf"^{re.escape(str(r))}: {message}$"):
            morvane.read(q, f, runs_file=r)


def test_only_morvane_x_finds_runs():
    for program in set(morvane.PROGRAMS) - {"morvane-x"}:
        with pytest.raises(ValueError, match=rf"^runs=True is morvane-x's alone .*{program} "):
            morvane.scan(97, 1000, program=program, runs=True)
        with pytest.raises(ValueError, match=r"^runs_file is morvane-x's alone"):
            morvane.read("maxdevQ_97-1.txt", "maxdevF_97-1.txt", program, runs_file="x")
    with pytest.raises(TypeError, match=r"^runs must be True or False, not int \(1\)$"):
        morvane.scan(97, 1000, runs=1)
