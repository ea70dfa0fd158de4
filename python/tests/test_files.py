"""run.write() gives the programs' own files byte for byte, and run.q, run.f
hold their lines: for all three programs, a spread of p, N and nmin, far
windows and the edges of the 32-bit and 64-bit counts."""
import decimal
import subprocess
from fractions import Fraction

import pytest

import morvane
from conftest import BUILD, DATA, program_files

TOP32 = 2**32 - 1
TOP64 = 2**64 - 1

# (p, N, nmin) for every program.
EVERYWHERE = [
    (2, 10, 1),
    (3, 20, 1),
    (3, 900, 1),
    (4, 5000, 0),
    (13, 100000, 1),
    (5, 100000, 1000),
    (67, 900, 1),
    (97, 10**6, 1),
    (97, 1000, 1000),
    (2, 7, 5),                        # a Q file without a record
    (97, 10**7, 10**7 - 20000),       # a window far from the start
    (7, TOP32, TOP32 - 100000),       # the end of the 32-bit counts
    (97, TOP32, TOP32 - 300000),
]
# And for morvane-l and morvane-x, beyond 32 bits.
WIDE = [
    (97, 2**32 + 100000, 2**32 - 100000),   # across 2^32
    (11, 10**15 + 100000, 10**15),
    (97, 10**18 + 200000, 10**18),
    (3, TOP64, TOP64 - 2000),               # ties in every period, at the top
    (97, TOP64, TOP64 - 200000),
    (2, TOP64, TOP64 - 1000),
]


def cases(program):
    return EVERYWHERE + (WIDE if program != "morvane" else [])


def all_cases():
    return [(program, *case) for program in morvane.PROGRAMS for case in cases(program)]


def lines_of(data):
    text = data.decode()
    assert text.endswith("\n")
    return [line.split(" ") for line in text[:-1].split("\n")]


def twelve_decimals(value):
    """%.12f of an exact rational, rounded to nearest (a tie cannot occur)."""
    context = decimal.Context(prec=200)
    quotient = context.divide(decimal.Decimal(value.numerator), decimal.Decimal(value.denominator))
    text = format(quotient.quantize(decimal.Decimal("1e-12"), context=context), "f")
    return "-" + text if value < 0 and not text.startswith("-") else text


def nearest(value, exact):
    """value is the binary64 value nearest to the rational exact."""
    import math
    error = abs(Fraction(value) - exact)
    return all(error <= abs(Fraction(math.nextafter(value, toward)) - exact)
               for toward in (math.inf, -math.inf))


def check_rows(run, rows, total, exact_values, data, program):
    lines = lines_of(data)
    assert [int(x) for x in lines[-1]] == [run.N, total]
    records = lines[:-1]
    assert len(rows) == len(records) == len(exact_values)
    for row, line, exact in zip(rows, records, exact_values):
        assert [int(row["n"]), int(row["count"])] == [int(line[0]), int(line[1])]
        if program == "morvane-x":
            assert twelve_decimals(exact) == line[2]
            assert nearest(float(row["excess"]), exact)
        else:
            assert "%.12f" % row["excess"] == line[2]
            assert float(row["excess"]) == float(exact)


@pytest.mark.parametrize("program, p, N, nmin", all_cases())
def test_write_is_the_programs_files(tmp_path, program, p, N, nmin):
    expected_q, expected_f = program_files(tmp_path / "program", program, p, N, nmin)
    run = morvane.scan(p, N, nmin, program=program)
    q_path, f_path = run.write(tmp_path)
    assert open(q_path, "rb").read() == expected_q
    assert open(f_path, "rb").read() == expected_f
    assert sorted(x.name for x in tmp_path.iterdir()) == sorted(
        ["program", f"maxdevQ_{p}-{nmin}.txt", f"maxdevF_{p}-{nmin}.txt"])
    assert (run.p, run.N, run.nmin, run.program) == (p, N, nmin, program)
    assert run.q_total + run.f_total == N
    check_rows(run, run.q, run.q_total, run.q_exact(), expected_q, program)
    check_rows(run, run.f, run.f_total, run.f_exact(), expected_f, program)


@pytest.mark.parametrize("program", morvane.PROGRAMS)
@pytest.mark.parametrize("p", [3, 67, 97])
def test_default_runs_are_the_stored_files(tmp_path, program, p):
    run = morvane.scan(p, program=program)
    q_path, f_path = run.write(str(tmp_path))
    assert open(q_path, "rb").read() == (DATA / program / f"maxdevQ_{p}-1.txt").read_bytes()
    assert open(f_path, "rb").read() == (DATA / program / f"maxdevF_{p}-1.txt").read_bytes()


@pytest.mark.parametrize("p_text", ["05", "", "4294967301"])
def test_write_with_the_p_text_of_another_first_argument(tmp_path, program, p_text):
    # "05" and "4294967301" (2^32 + 5) both give p = 5; "" is what "+5" leaves.
    argument = p_text or "+5"
    if program == "morvane-x" and len(argument) > 9:
        # morvane-x takes p up to 4294967295 and refuses a larger one instead of
        # cutting it to 32 bits.
        done = subprocess.run([str(BUILD / program), argument, "2000", "10"], cwd=tmp_path,
                              capture_output=True)
        assert (done.returncode, done.stdout) == (1, b"Error: value of p out of range\n")
        return
    expected = program_files(tmp_path / "program", program, 5, 2000, 10, p_text=argument)
    q_path, f_path = morvane.scan(5, 2000, 10, program=program).write(tmp_path, p_text=p_text)
    assert q_path.endswith(f"maxdevQ_{p_text}-10.txt")
    assert (open(q_path, "rb").read(), open(f_path, "rb").read()) == expected


def test_write_replaces_earlier_files(tmp_path):
    morvane.scan(97, 10**5).write(tmp_path)
    run = morvane.scan(97, 2000)
    q_path, _ = run.write(tmp_path)
    assert open(q_path, "rb").read().endswith(b"\n2000 %d\n" % run.q_total)
    assert len(list(tmp_path.iterdir())) == 2


def test_read_gives_the_run_back(tmp_path, program):
    q, f = program_files(tmp_path, program, 97, 10**6, 7)
    run = morvane.read(tmp_path / "maxdevQ_97-7.txt", tmp_path / "maxdevF_97-7.txt",
                       program=program)
    scanned = morvane.scan(97, 10**6, 7, program=program)
    assert (run.p, run.N, run.nmin, run.q_total, run.program) == (97, 10**6, 7,
                                                                   scanned.q_total, program)
    assert run.q.tolist() == scanned.q.tolist() and run.f.tolist() == scanned.f.tolist()
    assert run.q_exact() == scanned.q_exact() and run.f_exact() == scanned.f_exact()
    out = tmp_path / "again"
    out.mkdir()
    q_path, f_path = run.write(out)
    assert (open(q_path, "rb").read(), open(f_path, "rb").read()) == (q, f)


def test_read_keeps_the_files_p_text(tmp_path):
    program_files(tmp_path, "morvane-x", 5, 3000, 1, p_text="005")
    run = morvane.read(tmp_path / "maxdevQ_005-1.txt", tmp_path / "maxdevF_005-1.txt")
    assert (run.p, run.p_text) == (5, "005")
    program_files(tmp_path, "morvane-x", 5, 3000, 1, p_text="+5")
    run = morvane.read(tmp_path / "maxdevQ_-1.txt", tmp_path / "maxdevF_-1.txt", p=5)
    assert (run.p, run.p_text) == (5, "")
