"""The module as a user meets it: help on everything, matplotlib only when
plotting, and the picture of a run."""
import inspect
import subprocess
import sys

import pytest

import morvane


def test_everything_has_a_docstring():
    assert len(morvane.__doc__) > 500
    for name in morvane.__all__:
        item = getattr(morvane, name)
        if callable(item):
            assert len(inspect.getdoc(item) or "") > 100, name
    for name, member in vars(morvane.Run).items():
        if not name.startswith("_"):
            assert len(inspect.getdoc(member) or "") > 15, name
    text = subprocess.run([sys.executable, "-c", "import morvane; help(morvane.scan)"],
                          capture_output=True, text=True, check=True).stdout
    assert "scan(p, N=900, nmin=1, program='morvane-x', jobs=1, k=2, runs=False)" in text
    assert "KeyboardInterrupt" in text


def test_import_leaves_matplotlib_alone():
    code = "import sys, morvane; morvane.scan(97, 10**5).q; print('matplotlib' in sys.modules)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout == "False\n"


def test_plot_draws_both_staircases(tmp_path):
    pytest.importorskip("matplotlib")
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    run = morvane.scan(97, 10**7, program="morvane")
    ax = run.plot()
    assert ax.get_xscale() == "log"
    assert ax.get_xlim() == (1.0, 1e7)
    lines = ax.get_lines()
    # A staircase and a dashed line to N per series.
    assert len(lines) == 4
    q_steps, q_rest, f_steps, f_rest = lines
    assert list(q_steps.get_xdata()) == [float(n) for n in run.q["n"]]
    assert list(f_steps.get_ydata()) == list(run.f["excess"])
    assert q_steps.get_drawstyle() == "steps-post"
    assert list(q_rest.get_xdata()) == [80156.0, 1e7] and q_rest.get_linestyle() == "--"
    assert list(f_rest.get_ydata()) == [run.f["excess"][-1]] * 2
    assert ax.get_legend().get_texts()[0].get_text() == "Q-excess (81 records)"
    assert "p = 97" in ax.get_title() and "N = 10000000" in ax.get_title()
    ax.figure.savefig(tmp_path / "records.png")
    assert (tmp_path / "records.png").stat().st_size > 10000
    plt.close(ax.figure)
    # Into given axes, and a series without a record.
    figure, given = plt.subplots()
    empty = morvane.scan(2, 7, 5, program="morvane")
    assert empty.plot(ax=given) is given
    assert [t.get_text() for t in given.get_legend().get_texts()] == [
        "Q-excess (no record)", "F-excess (3 records)"]
    plt.close(figure)
