"""Every example of docs/python.md runs, in an empty folder, with the output
shown there; the pictures it draws are the ones in docs/."""
import doctest
import os
from pathlib import Path

import pytest

DOCS = Path(__file__).resolve().parents[2] / "docs"


def test_the_python_page_runs_as_shown(tmp_path, monkeypatch):
    pytest.importorskip("matplotlib")
    monkeypatch.chdir(tmp_path)
    result = doctest.testfile(str(DOCS / "python.md"), module_relative=False,
                              optionflags=doctest.ELLIPSIS | doctest.REPORT_NDIFF)
    assert result.attempted > 30 and result.failed == 0
    for picture in ("python-records-97.png", "python-sweep.png"):
        assert (tmp_path / picture).stat().st_size > 10000
        assert (DOCS / picture).exists()
