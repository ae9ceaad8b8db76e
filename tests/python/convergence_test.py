"""The convergence study: its table and its report against the example of docs/tools.md, the
periodic rule of the finer grids, no exact solution where none holds, and the refusals a user
meets, through the convergence command."""

import os
import re

import numpy
import pandas
import pytest

import wave1d
from wave1d_testing import CHECKOUT, PROGRAM, input_file, tool

# The shifted pulse of docs/tools.md, and what the command prints for it below its table of
# runs.
SHIFTED = dict(xmin="-20", xmax="20", nx="800", courant="0.5", nt="320", boundtype="2",
               amplitude="1", width="1", center="0", every_1D="80", lapsetype="0",
               shifttype="1")
DOCS = os.path.join(CHECKOUT, "docs", "tools.md")


def documented_report():
    """The lines of the example in docs/tools.md that the command prints after its table."""
    with open(DOCS, encoding="utf-8") as file:
        text = file.read()
    block = re.search(r"\n```\n(compared at .*?)```", text, re.S)
    return block.group(1).splitlines()


@pytest.fixture(scope="module")
def shifted(tmp_path_factory):
    top = tmp_path_factory.mktemp("shifted")
    path = top / "shift.in"
    path.write_text("".join(f"{SHIFTED[name]}\n" for name in wave1d.NAMES))
    return path


def test_the_table_of_the_shifted_example(shifted, tmp_path):
    table = wave1d.convergence(base=shifted, folder=tmp_path)
    assert list(table["time"]) == [0, 2, 4, 6, 8]
    last = table.iloc[-1]
    assert (round(last["q_l2"], 4), round(last["q_max"], 4)) == (3.9787, 4.1135)
    assert [round(last[name], 4) for name in ("error_l2_1_2", "error_l2_2_4", "error_max_1_2",
                                              "error_max_2_4")] == [3.9797, 3.9962, 4.0944,
                                                                    4.0364]
    constraint = table.filter(regex="^constraint").to_numpy()
    assert constraint.shape == (5, 4) and numpy.all(abs(constraint - 4) < 0.02)
    # Time zero: the same initial data, no difference to take a factor of.
    assert numpy.isnan(table["q_l2"][0])
    kept = (tmp_path / "dx4" / "input").read_text().split()[::2]
    assert kept == ["-20", "20", "3200", "0.5", "1280", "2", "1", "1", "0", "320", "0", "1"]


def test_the_command_prints_the_documented_report(shifted, tmp_path):
    done = tool("convergence", shifted, "--table", tmp_path / "q.tsv", "--plot",
                tmp_path / "q.png", cwd=tmp_path)
    assert done.returncode == 0 and done.stderr == "", done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == f"convergence study of {shifted} with {PROGRAM}"
    assert lines[2].split() == ["dx", "800", "20", "320", "80", "8"]
    assert lines[5:] == documented_report()
    table = pandas.read_csv(tmp_path / "q.tsv", sep="\t")
    assert round(table["q_max"].iloc[-1], 4) == 4.1135
    assert (tmp_path / "q.png").read_bytes()[:4] == b"\x89PNG"


def test_a_periodic_grid_keeps_its_period_and_converges(tmp_path):
    table = wave1d.convergence(folder=tmp_path, **dict(
        SHIFTED, xmin="-5.05", xmax="5.05", nx="202", nt="300", boundtype="1",
        every_1D="100", shifttype="0"))
    assert (tmp_path / "dx4" / "input").read_text().split()[:6:2] == ["-5.05", "4.975", "802"]
    assert abs(table["q_l2"].iloc[-1] - 4) < 0.4
    # The halves have crossed the ends of the domain: no exact solution after time zero.
    assert table["error_l2_1_2"][1:].isna().all()


def test_no_exact_solution_for_the_tanh_lapse(tmp_path):
    path = input_file(tmp_path / "lapse.in", lapsetype=1, every_1D=20)
    done = tool("convergence", path, cwd=tmp_path)
    assert done.returncode == 0
    assert "no exact solution: the lapse is not 1" in done.stdout
    assert "error ratios" not in done.stdout


def stand_in(tmp_path, warning):
    """A program that runs wave1d and then warns as the program does."""
    path = tmp_path / "warning_wave1d"
    path.write_text(f'#!/bin/sh\n"{PROGRAM}" "$@" && echo "wave1d: warning: {warning}" >&2\n')
    path.chmod(0o755)
    return path


@pytest.mark.parametrize("changes, options, expected", [
    (dict(every_1D=0), (), "every_1D = 0"),
    (dict(nx="200.0"), (), 'nx: "200.0" is not an integer'),
    (dict(nx=2), (), "needs at least two sampled points"),
    (None, (), "holds only 9 of the twelve values"),
    (dict(), ("-w", "none"), "the program none is not an executable file"),
    ("unstable", (), "its table shows NaN at time 4.18E+02"),
    (dict(), ("-w", "phi is not finite at time 2.5"), "is not finite, so its profiles"),
], ids=["every_1D 0", "real nx", "nx 2", "short input", "no program", "unstable example",
        "not finite warning"])
def test_the_command_refuses_what_it_cannot_compare(tmp_path, changes, options, expected):
    if changes is None:
        path = tmp_path / "short.in"
        path.write_text("-10\n10\n200\n0.5\n80\n2\n1\n1\n0\n")
    elif changes == "unstable":
        path = os.path.join(CHECKOUT, "examples", "unstable_courant.in")
    else:
        path = input_file(tmp_path / "case.in", **changes)
    if options[1:2] and options[1].startswith("phi"):
        options = ("-w", stand_in(tmp_path, options[1]))
    done = tool("convergence", *options, path, cwd=tmp_path)
    assert done.returncode == 1
    assert expected in done.stderr.splitlines()[-1], done.stderr


def test_another_warning_of_the_program_is_passed_on_once(tmp_path):
    warning = "the Courant factor 0.5 is above the largest stable one, 0.25"
    done = tool("convergence", "-w", stand_in(tmp_path, warning),
                input_file(tmp_path / "small.in"), cwd=tmp_path)
    assert done.returncode == 0
    assert done.stderr == f"tools/convergence: wave1d warns: {warning}\n"
