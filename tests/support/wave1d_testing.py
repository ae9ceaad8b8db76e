"""Shared by the Python tests: the built program (WAVE1D), input files of small runs, direct
runs of the program as a child process, and the tools run as child processes."""

import os
import subprocess
import sys

CHECKOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TOOLS = os.path.join(CHECKOUT, "tools")
PROGRAM = os.path.abspath(os.environ["WAVE1D"])
NAMES = ("xmin", "xmax", "nx", "courant", "nt", "boundtype", "amplitude", "width", "center",
         "every_1D", "lapsetype", "shifttype")
# A pulse that leaves through outgoing boundaries in a few hundredths of a second.
SMALL = dict(xmin="-10", xmax="10", nx="80", courant="0.5", nt="40", boundtype="2",
             amplitude="1", width="1", center="0", every_1D="10", lapsetype="0", shifttype="0")
# The files a run leaves that the program writes.
OUTPUTS = ("console.txt", "phi.xl", "phi.xtl", "norms.tsv")


def input_file(path, **changes):
    """Writes the twelve values of SMALL, with changes, one per line; returns the path."""
    values = dict(SMALL, **{name: str(value) for name, value in changes.items()})
    with open(path, "w") as file:
        file.writelines(values[name] + "\n" for name in NAMES)
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
    found = {}
    for name in OUTPUTS:
        with open(os.path.join(folder, name), "rb") as file:
            found[name] = file.read()
    return found


def tool(name, *arguments, **options):
    """Runs tools/NAME with this Python, standard output and error captured as text."""
    options.setdefault("env", dict(os.environ, WAVE1D=PROGRAM))
    return subprocess.run([sys.executable, os.path.join(TOOLS, name), *map(str, arguments)],
                          capture_output=True, text=True, **options)
