"""Shared by the Python tests: the built program (WAVE1D), input files of small runs, direct
runs of the program as a child process, the tools run as child processes, and the check of a
scan's folders against direct runs."""

import os
import pathlib
import subprocess
import sys

import numpy

CHECKOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOLS = os.path.join(CHECKOUT, "tools")
# Absolute, for the runs and tools started in other folders.
PROGRAM = os.environ["WAVE1D"] = os.path.abspath(os.environ["WAVE1D"])
# The twelve values, in the order the program reads them, of a pulse that leaves through
# outgoing boundaries in a few hundredths of a second.
SMALL = dict(xmin="-10", xmax="10", nx="80", courant="0.5", nt="40", boundtype="2",
             amplitude="1", width="1", center="0", every_1D="10", lapsetype="0", shifttype="0")
# The files a run leaves that the program writes.
OUTPUTS = ("console.txt", "phi.xl", "phi.xtl", "norms.tsv")


def input_file(path, **changes):
    """Writes the twelve values of SMALL, with changes, one per line; returns the path."""
    values = dict(SMALL, **changes)
    pathlib.Path(path).write_text("".join(f"{values[name]}\n" for name in SMALL))
    return str(path)


def direct_run(folder, input_path):
    """Runs wave1d --norms on the input file in a new folder; returns outputs(folder)."""
    os.makedirs(folder)
    with open(input_path) as values, open(os.path.join(folder, "console.txt"), "wb") as console:
        subprocess.run([PROGRAM, "--norms"], stdin=values, stdout=console, cwd=folder,
                       check=True, env=dict(os.environ, OMP_NUM_THREADS="2"))
    return outputs(folder)


def outputs(folder):
    """The bytes of each file the program wrote in folder, by name."""
    return {name: pathlib.Path(folder, name).read_bytes() for name in OUTPUTS}


def is_png(path):
    return pathlib.Path(path).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def check_like_direct_runs(tmp_path, scan, base_changes, runs):
    """Each run folder of the scan, named by its values, holds the bytes of a direct run of
    SMALL with base_changes and those values; the summary row of each, its last norms."""
    summary = numpy.genfromtxt(scan / "summary.tsv", names=True, dtype=None, encoding="utf-8",
                               delimiter="\t")
    assert len(summary) == len(runs)
    for row, values in zip(summary, runs):
        name = ",".join(f"{n}={v}" for n, v in values.items())
        direct = direct_run(tmp_path / "direct" / name, input_file(
            tmp_path / (name + ".in"), **dict(base_changes, **values)))
        assert outputs(scan / name) == direct, name
        last = numpy.loadtxt(scan / name / "norms.tsv")[-1]
        assert row["folder"] == name and row["exit_status"] == 0 and row["seconds"] > 0
        assert [row["final_time"], row["final_max_abs_phi"], row["final_energy"],
                row["final_l2_constraint"]] == [last[0], last[1], last[5], last[6]]


def tool(name, *arguments, **options):
    """Runs tools/NAME with this Python, standard output and error captured as text."""
    return subprocess.run([sys.executable, os.path.join(TOOLS, name), *map(str, arguments)],
                          capture_output=True, text=True, **options)


# A folder name with what a shell would split, expand or run: anything of it run by a shell
# leaves a file "pwned" in its working folder.
ODD_NAME = "a b'\"{}$(touch pwned)`touch pwned`\nc"


def check_nothing_run_by_a_shell(folder):
    """Only the odd folder is in folder, and no "pwned" file in the home folder either."""
    assert os.listdir(folder) == [ODD_NAME]
    assert not os.path.exists(os.path.join(os.path.expanduser("~"), "pwned"))
