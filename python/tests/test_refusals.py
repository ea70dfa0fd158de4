"""Every refused argument, with its exception and a message that names the
argument; read() on bad files, naming the file and the line; write() where it
cannot write, leaving nothing behind."""
import os
import re

import numpy
import pytest

import morvane
from conftest import program_files

TOP32 = 2**32 - 1
TOP64 = 2**64 - 1


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(p=1), ValueError, r'^p must be from 2 to 4294967295 \(or "all"\), not 1$'),
    (dict(p=98, program="morvane"), ValueError,
     r'^p must be from 2 to 97 for morvane, not 98; morvane-x takes p up to 4294967295 and "all"$'),
    (dict(p=-1), ValueError, r'^p must be from 2 to 4294967295 \(or "all"\), not -1$'),
    (dict(p=2**32 + 2), ValueError, r"^p must be from 2 to 4294967295 .*, not 4294967298$"),  # no wrap
    (dict(p=True), TypeError, r'^p must be an integer or "all", not bool'),
    (dict(p=97.0), TypeError, r'^p must be an integer or "all", not float \(97\.0\); write 97'),
    (dict(p="97"), ValueError, r"""^p must be an integer or "all", not '97'$"""),
    (dict(p=None), TypeError, r'^p must be an integer or "all", not NoneType'),
    (dict(p=97, N=1), ValueError, r"^N must be at least 2, not 1$"),
    (dict(p=97, N=-1), ValueError, r"^N must be at least 2, not -1$"),
    (dict(p=97, N=1e6), TypeError, r"^N must be an integer, not float \(1000000\.0\); write "),
    (dict(p=97, N=2**64), ValueError, r"^N = 18446744073709551616 is beyond morvane-x's 64-bit"),
    (dict(p=97, N=2**32, program="morvane"), ValueError,
     r"^N = 4294967296 is beyond morvane's 32-bit counts \(at most 4294967295\); morvane-l"),
    (dict(p=97, N=TOP64, program="morvane"), ValueError, r"^N = 18446744073709551615 is beyond"),
    (dict(p=97, N=900, nmin=-1), ValueError, r"^nmin must be from 0 to 900 \(N\), not -1$"),
    (dict(p=97, N=900, nmin=901), ValueError, r"^nmin must be from 0 to 900 \(N\), not 901$"),
    (dict(p=97, N=900, nmin=1.5), TypeError, r"^nmin must be an integer, not float"),
    (dict(p=97, program="morvane-y"), ValueError, r"^program must be one of 'morvane'"),
    (dict(p=97, program="MORVANE"), ValueError, r"^program must be one of"),
    (dict(p=97, program=3), TypeError, r"^program must be a str"),
    (dict(p=97, jobs=0), ValueError, r"^jobs must be from 1 to 256, not 0$"),
    (dict(p=97, jobs=-2), ValueError, r"^jobs must be from 1 to 256, not -2$"),
    (dict(p=97, jobs=257), ValueError, r"^jobs must be from 1 to 256, not 257$"),
    (dict(p=97, jobs=2.0), TypeError, r"^jobs must be an integer, not float"),
])
def test_scan_refuses(kwargs, error, message):
    with pytest.raises(error, match=message):
        morvane.scan(**kwargs)


def test_scan_takes_integer_types_and_the_edges():
    run = morvane.scan(numpy.int64(97), numpy.uint64(1000), numpy.int32(0), jobs=numpy.int8(2))
    assert (run.p, run.N, run.nmin) == (97, 1000, 0) and type(run.N) is int
    assert morvane.scan(2, 2).q.size == 0 and morvane.scan(97, 2, 2).f["n"].tolist() == [2]
    assert morvane.scan(2, TOP32, TOP32, program="morvane").N == TOP32
    assert morvane.scan(2, TOP64, TOP64).N == TOP64


@pytest.mark.parametrize("call, error, message", [
    (lambda: morvane.q_count(-1, 97), ValueError, r"^x must be from 0 to 18446744073709551615"),
    (lambda: morvane.q_count(2**64, 97), ValueError, r"^x must be from 0"),
    (lambda: morvane.q_count(10.0, 97), TypeError, r"^x must be an integer"),
    (lambda: morvane.q_count(10, 1), ValueError, r"^p must be from 2 to 4294967295 .*, not 1$"),
    (lambda: morvane.density(2**32), ValueError, r"^p must be from 2 to 4294967295 .*, not 4294967296$"),
    (lambda: morvane.density(2.5), TypeError, r"^p must be an integer"),
    (lambda: morvane.read(3, "x"), TypeError, r"^q_file must be a path"),
    (lambda: morvane.read("maxdevQ_2-1.txt", "maxdevF_2-1.txt", program="x"), ValueError,
     r"^program must be one of"),
    (lambda: morvane.read("maxdevQ_2-1.txt", "maxdevF_2-1.txt", p=0), ValueError,
     r"^p must be from 2 to 4294967295"),
    (lambda: morvane.read("maxdevQ_2-1.txt", "maxdevF_2-1.txt", program="morvane", p=98),
     ValueError, r"^p must be from 2 to 97 for morvane"),
])
def test_the_other_functions_refuse(call, error, message):
    with pytest.raises(error, match=message):
        call()


@pytest.mark.parametrize("program, digits, cut, saturated", [
    ("morvane", r"digits only", 6, -1),  # cut to 32 bits, as the program does
    ("morvane-x", r'digits or "all"', 4294967302, 2**63 - 1),  # never cut
])
def test_write_refuses(tmp_path, program, digits, cut, saturated):
    run = morvane.scan(5, 1000, program=program)
    for p_text, error, message in [
        ("5x", ValueError, rf"^p_text must be {digits}"),
        (" 5", ValueError, rf"^p_text must be {digits}"),
        ("6", ValueError, r"^p_text '6' gives p = 6, not the run's p = 5$"),
        ("4294967302", ValueError, rf"gives p = {cut},"),
        ("9" * 100000, ValueError, rf"gives p = {saturated},"),  # as atoi saturates
        (5, TypeError, r"^p_text must be a str"),
    ]:
        with pytest.raises(error, match=message):
            run.write(tmp_path, p_text=p_text)
    with pytest.raises(TypeError, match=r"^folder must be a path"):
        run.write(5)
    with pytest.raises(OSError, match=r"missing/maxdevQ_5-1\.txt: cannot be created"):
        run.write(tmp_path / "missing")
    (tmp_path / "maxdevF_5-1.txt").mkdir()
    with pytest.raises(OSError, match=r"maxdevF_5-1\.txt: is in the way"):
        run.write(tmp_path)
    assert sorted(os.listdir(tmp_path)) == ["maxdevF_5-1.txt"]  # nothing else left


def test_a_refused_write_leaves_the_earlier_files(tmp_path):
    q_path, f_path = morvane.scan(97, 10**5).write(tmp_path)
    before = open(q_path, "rb").read()
    os.unlink(f_path)
    os.mkdir(f_path)
    with pytest.raises(OSError, match=r"maxdevF_97-1\.txt: is in the way"):
        morvane.scan(97, 2000).write(tmp_path)
    assert open(q_path, "rb").read() == before
    assert sorted(os.listdir(tmp_path)) == ["maxdevF_97-1.txt", "maxdevQ_97-1.txt"]


@pytest.fixture
def files(tmp_path):
    """A good pair of morvane-x files of 97 100000 in tmp_path, as text."""
    program_files(tmp_path, "morvane-x", 97, 100000, 1)
    q, f = tmp_path / "maxdevQ_97-1.txt", tmp_path / "maxdevF_97-1.txt"
    return tmp_path, q, f


def refuses(q, f, message, **kwargs):
    with pytest.raises(ValueError, match=message):
        morvane.read(q, f, **kwargs)


def test_read_refuses_names(files):
    folder, q, f = files
    other = folder / "records.txt"
    other.write_bytes(q.read_bytes())
    refuses(other, f, rf"^{re.escape(str(other))}: not named like a Q file")
    refuses(f, q, rf"^{re.escape(str(f))}: not named like a Q file")
    renamed = folder / "maxdevF_97-2.txt"
    renamed.write_bytes(f.read_bytes())
    refuses(q, renamed, r"maxdevF_97-2\.txt: not the partner of .*maxdevQ_97-1\.txt")
    missing = folder / "maxdevF_97-1.txt"
    missing.unlink()
    refuses(q, missing, r"maxdevF_97-1\.txt: cannot be read: No such file or directory")


def edited(path, old, new):
    text = path.read_bytes()
    assert old in text
    path.write_bytes(text.replace(old, new, 1))


def lines(path):
    return path.read_bytes().split(b"\n")


def test_read_refuses_damaged_lines(files):
    folder, q, f = files
    good_q, good_f = q.read_bytes(), f.read_bytes()
    third = lines(q)[2]  # "153 60 0.182159986126"
    cases = [
        (q, third, third[:-1] + b"7", r"maxdevQ_97-1\.txt: line 3: the excess is not the one "
                                      r"morvane-x computes"),
        (q, third, b"153 61 " + third.split(b" ")[2], r"line 3: the excess is not the one"),
        (q, third, third + b" ", r"line 3: not a record line of morvane-x"),
        (q, third, b"0153 60 " + third.split(b" ")[2], r"line 3: not a record line"),
        (f, lines(f)[1], lines(f)[0], r"maxdevF_97-1\.txt: line 2: n is not above the previous"),
        (f, lines(f)[-2], lines(f)[-2][:-1] + str(int(lines(f)[-2][-1:]) ^ 1).encode(),
         r"maxdevF_97-1\.txt: its summary line does not match that of its Q partner"),
    ]
    for path, old, new, message in cases:
        edited(path, old, new)
        refuses(q, f, message)
        q.write_bytes(good_q)
        f.write_bytes(good_f)


def test_read_refuses_incomplete_files(files):
    folder, q, f = files
    good = f.read_bytes()
    for cut in (b"", good[:-1], good[: good.rindex(b"\n", 0, -1) + 1], good[:100]):
        f.write_bytes(cut)
        refuses(q, f, r"maxdevF_97-1\.txt: (line \d+: )?incomplete")
    f.write_bytes(good + b"1 1 0.1\n")
    refuses(q, f, r"maxdevF_97-1\.txt: line \d+: a line after the summary line")


def test_read_refuses_another_programs_files(tmp_path):
    program_files(tmp_path, "morvane-l", 97, 100000, 1)
    q, f = tmp_path / "maxdevQ_97-1.txt", tmp_path / "maxdevF_97-1.txt"
    morvane.read(q, f, program="morvane-l")
    refuses(q, f, r"line \d+: the excess is not the one morvane-x computes", program="morvane-x")
    # The files of another p.
    q.rename(tmp_path / "maxdevQ_89-1.txt")
    f.rename(tmp_path / "maxdevF_89-1.txt")
    refuses(tmp_path / "maxdevQ_89-1.txt", tmp_path / "maxdevF_89-1.txt",
            r"line 1: the excess is not the one morvane-l computes", program="morvane-l")


def test_read_refuses_p(tmp_path):
    program_files(tmp_path, "morvane-x", 7, 1000, 1, p_text=" 7")
    q, f = tmp_path / "maxdevQ_-1.txt", tmp_path / "maxdevF_-1.txt"
    refuses(q, f, r"maxdevQ_-1\.txt: the p text is empty .*give p with p=")
    assert morvane.read(q, f, p=7).p == 7
    refuses(q, f, r"line 1: the excess is not the one", p=11)
    (tmp_path / "maxdevQ_7-1.txt").write_bytes(q.read_bytes())
    (tmp_path / "maxdevF_7-1.txt").write_bytes(f.read_bytes())
    refuses(tmp_path / "maxdevQ_7-1.txt", tmp_path / "maxdevF_7-1.txt",
            r"maxdevQ_7-1\.txt: its p text gives p = 7, p= gives 11", p=11)
    (tmp_path / "maxdevQ_98-1.txt").write_bytes(q.read_bytes())
    (tmp_path / "maxdevF_98-1.txt").write_bytes(f.read_bytes())
    refuses(tmp_path / "maxdevQ_98-1.txt", tmp_path / "maxdevF_98-1.txt",
            r"maxdevQ_98-1\.txt: p = 98 is out of range \(2 to 97\)", program="morvane")
    refuses(tmp_path / "maxdevQ_98-1.txt", tmp_path / "maxdevF_98-1.txt",
            r"line 1: the excess is not the one morvane-x computes")  # p = 98 is morvane-x's
    (tmp_path / "maxdevQ_4294967296-1.txt").write_bytes(q.read_bytes())
    (tmp_path / "maxdevF_4294967296-1.txt").write_bytes(f.read_bytes())
    refuses(tmp_path / "maxdevQ_4294967296-1.txt", tmp_path / "maxdevF_4294967296-1.txt",
            r"maxdevQ_4294967296-1\.txt: p = 4294967296 is out of range \(2 to 4294967295, or all\)")
