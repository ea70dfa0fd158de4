"""What the tests of the morvane module share: the built programs, run in a
scratch folder, and the record files they write."""
import os
import re
import subprocess
from pathlib import Path

import pytest

import morvane

BUILD = Path(os.environ.get("MORVANE_BUILD", Path(__file__).resolve().parents[2] / "build"))
DATA = Path(__file__).resolve().parents[2] / "tests" / "data"

# The module under test is the one the caller names (the CMake build's, or the
# pip install of python/tests/pip_install.sh), never another found first on the path.
if "MORVANE_MODULE_DIR" in os.environ:
    expected = Path(os.environ["MORVANE_MODULE_DIR"]).resolve()
    if Path(morvane.__file__).resolve().parent != expected:
        raise RuntimeError(f"morvane is imported from {morvane.__file__}, not from {expected}")


def argument_text(count):
    """The argument text a program reads back as count: the C library
    saturates beyond 2**63 - 1, so larger counts go as their negative."""
    return str(count) if count < 2**63 else str(count - 2**64)


def program_path(program):
    path = BUILD / program
    if not path.exists():
        pytest.skip(f"{program} is not built in {BUILD}")
    return path


def program_files(folder, program, p, N, nmin, p_text=None, k=2):
    """Runs the built program ("-k k" before p where k is not 2) in folder
    (made empty) and returns the bytes of its Q and F files."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    text = str(p) if p_text is None else p_text
    power = [] if k == 2 else ["-k", str(k)]
    done = subprocess.run([str(program_path(program)), *power, text, argument_text(N),
                           argument_text(nmin)], cwd=folder, capture_output=True, timeout=600)
    assert done.returncode == 0 and done.stdout == b"" and done.stderr == b"", done
    # The p text: "all", or the digits up to the first non-digit; then the power.
    name = "all" if text == "all" else re.match(r"[0-9]*", text).group()
    name += "" if k == 2 else f"k{k}"
    q = folder / f"maxdevQ_{name}-{nmin}.txt"
    f = folder / f"maxdevF_{name}-{nmin}.txt"
    return q.read_bytes(), f.read_bytes()


@pytest.fixture(params=morvane.PROGRAMS)
def program(request):
    return request.param
