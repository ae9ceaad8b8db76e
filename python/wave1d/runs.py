"""Runs wave1d from Python and reads back what a run leaves in its folder."""

import dataclasses
import os
import shutil
import subprocess
import tempfile
import warnings
from typing import TYPE_CHECKING

from .inputs import NAMES, InputError, fit_final_time, input_text, read_input, value_of, value_text
from .profiles import xl_table

if TYPE_CHECKING:
    import numpy  # imported where a run is read, so that the package starts without it

__all__ = ["Norms", "Run", "RunFailed", "RunWarning", "find_program", "read_norms", "read_run",
           "remove_stale", "run"]

# The files of a run folder: the program's outputs, and what run() and the scans add to them.
INPUT_FILE = "input"
CONSOLE_FILE = "console.txt"
ERRORS_FILE = "errors.txt"
NORMS_FILE = "norms.tsv"
PROFILES_FILE = "phi.xl"

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


class Norms(dict):
    """The columns of a run's norms.tsv by name, in the order of the file. A name it lacks
    raises a KeyError that says why, and, for a run without norms, how to get them."""

    def __init__(self, columns=(), reason="the run was made without norms"):
        super().__init__(columns)
        self.reason = reason

    def __missing__(self, name):
        if self:
            raise KeyError(f"{name!r} is not a column of {NORMS_FILE}, which has "
                           + ", ".join(self))
        raise KeyError(f"no norm {name!r}: {self.reason}; run with norms=True (wave1d.run) "
                       f"or wave1d --norms to write {NORMS_FILE}")


@dataclasses.dataclass
class Run:
    """What a run left in its folder: the output times and x of phi.xl, phi with one row per
    output time, the columns of norms.tsv by name (Norms, empty without them), the twelve
    values of the folder's input file by name (empty without it), and whether the program has
    finished the run: it no longer writes phi.xl, which holds every output time of the input
    file's nt and every_1D. With norms, only the output times that both files hold are kept."""
    folder: str
    times: "numpy.ndarray"
    x: "numpy.ndarray"
    phi: "numpy.ndarray"
    norms: dict
    inputs: dict
    complete: bool = True


def _is_program(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def _program_of_checkout_around(folder):
    """build/wave1d of the checkout that holds folder (one with python/wave1d beside its
    build), when folder lies in one."""
    folder = os.path.abspath(folder)
    while True:
        candidate = os.path.join(folder, "build", "wave1d")
        if os.path.isdir(os.path.join(folder, "python", "wave1d")) and _is_program(candidate):
            return candidate
        if os.path.dirname(folder) == folder:
            return None
        folder = os.path.dirname(folder)


def find_program(program=None, beside=None):
    """The wave1d to run: program when given, then $WAVE1D, then the build tree of the
    checkout this package lives in, then wave1d in the folder beside, then the build tree of
    the checkout that holds the current folder (for a package installed from a checkout), then
    wave1d on the PATH."""
    for candidate in (program, os.environ.get("WAVE1D")):
        if candidate:
            if not _is_program(candidate):
                raise FileNotFoundError(f"the program {candidate} is not an executable file")
            return os.path.abspath(candidate)
    candidates = [_CHECKOUT_PROGRAM] + ([os.path.join(beside, "wave1d")] if beside else [])
    candidates.append(_program_of_checkout_around(os.curdir))
    for candidate in candidates:
        if candidate and _is_program(candidate):
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


def run(folder=None, program=None, norms=False, base=None, final_time=None, outputs=None,
        **values):
    """Runs wave1d on the twelve values given by name, or on the input file base with the values
    given changed, and returns read_run() of its folder.

    final_time=T gives the run the whole number of steps nearest to T/dt as nt, and outputs=K
    an output interval of about nt/K steps that divides nt, as a scan's --final-time and
    --outputs do (wave1d.inputs.fit_final_time); nt given with final_time, or every_1D with
    outputs, is an InputError.

    The run takes place in folder (created when missing), or in a new temporary folder, which
    is kept. The folder receives the input file "input", the console "console.txt" and standard
    error "errors.txt" beside the program's files; with norms=True the program also writes
    norms.tsv. Raises RunFailed, with the exit status and standard error, when the program
    fails; its warnings become RunWarning."""
    for name, option, given in (("nt", "final_time", final_time),
                                ("every_1D", "outputs", outputs)):
        if given is not None and name in values:
            raise InputError(f"{name} is set by {option}: give one of the two")
    texts = fit_final_time(input_texts(values, base), final_time, outputs)
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
    the program is still writing, is left out; so are the columns of a file that has not yet
    a whole first line."""
    import numpy

    with open(path, encoding="ascii", errors="replace") as file:
        lines = file.read().split("\n")
    if len(lines) == 1:
        return {}
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


def _being_written(path):
    """Whether a running wave1d holds the file locked, as it holds phi.xl while it runs."""
    try:
        import fcntl
    except ImportError:  # no such locks on this system
        return False
    try:
        with open(path, "rb") as file:
            # Held for the microseconds until the file closes: a run that starts in the folder
            # just then finds phi.xl locked and is refused.
            fcntl.flock(file, fcntl.LOCK_SH | fcntl.LOCK_NB)
    except BlockingIOError:
        return True
    except OSError:  # a file system without locks
        return False
    return False


def output_times(inputs):
    """The number of output times, time zero included, of a finished run of the values
    (by name, as read_run gives them)."""
    steps, every = inputs["nt"], abs(inputs["every_1D"])
    return 1 + (steps // every if steps >= 1 and every else 0)


def _span(times):
    return f"{times[0]:g} to {times[-1]:g}" if len(times) else "none"


def _norms_of(path, times, finished):
    """The Norms of the run whose profiles have the output times, and the number of output
    times both hold. A norms.tsv of other times, or of another length when the run has
    finished, is left out with a RunWarning."""
    import numpy

    if not os.path.exists(path):
        return Norms(), len(times)
    columns = read_norms(path)
    if not columns:
        # Nothing to match yet: the profiles are not held back for it.
        return Norms({}, f"{path} holds no whole line yet"), len(times)
    own = columns.get("time", numpy.empty(0))
    rows = min(len(times), len(own))
    # phi.xl writes a time with seven digits, norms.tsv in full.
    differ = numpy.flatnonzero(~numpy.isclose(times[:rows], own[:rows], rtol=1e-6, atol=0,
                                              equal_nan=True))
    if "time" not in columns:
        reason = "it has no column time"
    elif differ.size:
        row = int(differ[0])
        reason = (f"its times ({_span(own)}) are not the output times of phi.xl "
                  f"({_span(times)}): row {row + 1} is at time {own[row]:g}, not {times[row]:g}")
    elif finished and len(own) != len(times):
        reason = (f"it holds {len(own)} rows for the {len(times)} output times of the finished "
                  "run in phi.xl")
    else:
        return Norms({name: column[:rows] for name, column in columns.items()}), rows
    warnings.warn(f"{path} is left out: {reason}; it is an earlier run's", RunWarning,
                  stacklevel=3)
    return Norms({}, f"{path} is an earlier run's"), len(times)


def read_run(folder):
    """The Run of a folder where wave1d ran or runs: see Run. Needs numpy. An output time not
    yet whole in phi.xl is left out."""
    import numpy

    profiles = os.path.join(folder, PROFILES_FILE)
    # Asked first: a run that has ended has written its files whole before they are read.
    running = _being_written(profiles)
    times, x, phi = xl_table(profiles)
    input_path = os.path.join(folder, INPUT_FILE)
    inputs = {}
    if os.path.exists(input_path):
        inputs = {name: value_of(name, text) for name, text in read_input(input_path).items()}
    complete = not running and (not inputs or len(times) == output_times(inputs))
    norms, rows = _norms_of(os.path.join(folder, NORMS_FILE), times, complete and bool(inputs))
    x = x[0] if len(x) else numpy.empty(0)
    return Run(folder, times[:rows], x, phi[:rows], norms, inputs, complete)
