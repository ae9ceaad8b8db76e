"""Runs wave1d from Python and reads back what a run leaves in its folder."""

import dataclasses
import os
import shutil
import subprocess
import tempfile
import warnings
from typing import TYPE_CHECKING

from .inputs import NAMES, InputError, input_text, read_input, value_of, value_text
from .profiles import read_xl

if TYPE_CHECKING:
    import numpy  # imported where a run is read, so that the package starts without it

__all__ = ["Run", "RunFailed", "RunWarning", "find_program", "read_norms", "read_run",
           "remove_stale", "run"]

# The files of a run folder: the program's outputs, and what run() and the scans add to them.
INPUT_FILE = "input"
CONSOLE_FILE = "console.txt"
ERRORS_FILE = "errors.txt"
NORMS_FILE = "norms.tsv"

# The build tree of the checkout this package lives in, when it lives in one.
_CHECKOUT_PROGRAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                 "build", "wave1d")


class RunFailed(Exception):
    """wave1d ended with an exit status other than 0."""

    def __init__(self, status, stderr, folder):
        self.status, self.stderr, self.folder = status, stderr, folder
        last = stderr.strip().splitlines()[-1:] or ["nothing on standard error"]
        super().__init__(f"wave1d ended with exit status {status} in {folder}: {last[0]}")


class RunWarning(UserWarning):
    """A warning of wave1d: the run completed, but its results may not be trusted."""


@dataclasses.dataclass
class Run:
    """What a run left in its folder: the output times and x of phi.xl, phi with one row per
    output time, the columns of norms.tsv by name (empty without it), and the twelve values
    of the folder's input file by name (empty without it)."""
    folder: str
    times: "numpy.ndarray"
    x: "numpy.ndarray"
    phi: "numpy.ndarray"
    norms: dict
    inputs: dict


def find_program(program=None, beside=None):
    """The wave1d to run: program when given, then $WAVE1D, then the build tree of this
    checkout, then wave1d in the folder beside, then wave1d on the PATH."""
    for candidate in (program, os.environ.get("WAVE1D")):
        if candidate:
            if not (os.path.isfile(candidate) and os.access(candidate, os.X_OK)):
                raise FileNotFoundError(f"the program {candidate} is not an executable file")
            return os.path.abspath(candidate)
    candidates = [_CHECKOUT_PROGRAM] + ([os.path.join(beside, "wave1d")] if beside else [])
    for candidate in candidates:
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return os.path.realpath(candidate)
    found = shutil.which("wave1d")
    if found is None:
        raise FileNotFoundError("no wave1d program: give its path, set WAVE1D, or put it on the "
                                "PATH")
    return os.path.abspath(found)


def remove_stale(path):
    """Removes a file left by an earlier run, if there is one."""
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def input_texts(values, base=None):
    """The twelve value texts of a run: those of the input file base, if given, changed by
    values (name: number or text); InputError when one is missing or cannot be read."""
    texts = read_input(base) if base is not None else {}
    for name, value in values.items():
        texts[name] = value_text(name, value)
    missing = [name for name in NAMES if name not in texts]
    if missing:
        raise InputError("no value for " + ", ".join(missing) +
                         ": give all twelve, or base= an input file")
    return texts


def run(folder=None, program=None, norms=False, base=None, **values):
    """Runs wave1d on the twelve values given by name, or on the input file base with the values
    given changed, and returns read_run() of its folder.

    The run takes place in folder (created when missing), or in a new temporary folder, which
    is kept. The folder receives the input file "input", the console "console.txt" and standard
    error "errors.txt" beside the program's files; with norms=True the program also writes
    norms.tsv. Raises RunFailed, with the exit status and standard error, when the program
    fails; its warnings become RunWarning."""
    texts = input_texts(values, base)
    program = find_program(program)
    if folder is None:
        folder = tempfile.mkdtemp(prefix="wave1d-run-")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, INPUT_FILE), "w", encoding="utf-8") as file:
        file.write(input_text(texts))
    if not norms:
        # Norms left by an earlier run in this folder would be read as this run's.
        remove_stale(os.path.join(folder, NORMS_FILE))
    command = [program] + (["--norms"] if norms else []) + [INPUT_FILE]
    with open(os.path.join(folder, CONSOLE_FILE), "wb") as console, \
            open(os.path.join(folder, ERRORS_FILE), "wb") as errors:
        status = subprocess.run(command, cwd=folder, stdin=subprocess.DEVNULL, stdout=console,
                                stderr=errors).returncode
    with open(os.path.join(folder, ERRORS_FILE), encoding="utf-8", errors="replace") as errors:
        stderr = errors.read()
    if status != 0:
        raise RunFailed(128 - status if status < 0 else status, stderr, folder)
    for line in stderr.splitlines():
        if line.startswith("wave1d: warning: "):
            warnings.warn(line[len("wave1d: warning: "):], RunWarning, stacklevel=2)
    return read_run(folder)


def read_norms(path):
    """The columns of a norms.tsv by name, as numpy arrays: its first line names them after a
    "#", each following line holds one number per column. A last line without its line end, one
    the program is still writing, is left out."""
    import numpy

    with open(path, encoding="ascii") as file:
        lines = file.read().split("\n")
    if not lines[0].startswith("#"):
        raise ValueError(f'{path}, line 1: expected "# " and the names of the columns')
    names = lines[0][1:].split()
    rows = []
    for number, line in enumerate(lines[1:-1], 2):
        fields = line.split()
        if len(fields) != len(names):
            raise ValueError(f"{path}, line {number}: expected {len(names)} numbers, "
                             f"found {len(fields)}")
        try:
            rows.append([float(field) for field in fields])
        except ValueError:
            raise ValueError(f"{path}, line {number}: not a number among {fields}") from None
    table = numpy.array(rows, dtype=float).reshape(len(rows), len(names))
    return {name: table[:, k] for k, name in enumerate(names)}


def read_run(folder):
    """The Run of a folder where wave1d ran: see Run. Needs numpy. A last output time that
    the program is still writing, shorter than the first, is left out."""
    import numpy

    blocks = read_xl(os.path.join(folder, "phi.xl"))
    if len(blocks) > 1 and len(blocks[-1][1]) < len(blocks[0][1]):
        blocks.pop()
    times = numpy.array([time for time, _, _ in blocks], dtype=float)
    x = numpy.asarray(blocks[0][1], dtype=float) if blocks else numpy.empty(0)
    phi = numpy.array([block[2] for block in blocks], dtype=float).reshape(len(blocks), len(x))
    norms_path = os.path.join(folder, NORMS_FILE)
    norms = read_norms(norms_path) if os.path.exists(norms_path) else {}
    input_path = os.path.join(folder, INPUT_FILE)
    inputs = {}
    if os.path.exists(input_path):
        inputs = {name: value_of(name, text) for name, text in read_input(input_path).items()}
    return Run(folder, times, x, phi, norms, inputs)
