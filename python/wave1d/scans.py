"""The files of a scan's folder: a folder per run, how each run ended, and the summary of them
all, which read_scan gives as a table."""

import itertools
import math
import os
import re

from .inputs import INTEGER_NAMES, NAMES, InputError, fit_final_time, input_text, read_input, \
    value_of, value_text
from .profiles import last_time
from .runs import CONSOLE_FILE, ERRORS_FILE, INPUT_FILE, NORMS_FILE, remove_stale

__all__ = ["read_scan"]

ENDED_FILE = "ended.tsv"
# The scan's own files, beside the run folders: the script of one run, the lists of runs
# handed to the engines, the locks, the Slurm job and its logs.
SCAN_FOLDER = ".scan"
SUMMARY_FILE = "summary.tsv"
PICTURE_FILE = "summary.png"
# Most runs a scan makes unless told otherwise: beyond, a mistyped list would fill the disk
# with folders before anyone noticed.
RUN_BOUND = 100_000
# The longest name of a folder on the file systems in use.
NAME_BYTES = 255
# The short names of the program's warnings, by the start of their text; any other warning
# is named by its first words.
WARNING_KINDS = ((re.compile(r"Courant factor "), "Courant factor"),
                 (re.compile(r"the outgoing boundary "), "outgoing boundary"),
                 (re.compile(r"phi is not finite "), "phi not finite"),
                 (re.compile(r"\w+ read as .*a comma ends a value"), "decimal comma"),
                 (re.compile(r"WAVE1D_STEP="), "WAVE1D_STEP"),
                 (re.compile(r"\d+ threads cannot start"), "threads"))
WARNING_PREFIX = "wave1d: warning: "
NOT_FINITE = "phi not finite"
# The values that the final time and the output count depend on.
FIT_NAMES = ("xmin", "xmax", "nx", "courant", "nt", "every_1D")


class Refusal(Exception):
    """The scan cannot be made as asked: nothing has run."""


class WriteFailure(Exception):
    """A file of the scan could not be written: the message names it and says why."""


def write_whole(path, text):
    """Writes text to path under another name first, then renamed over path, so that path is
    never seen half-written; WriteFailure naming path when a step fails."""
    part = path + ".part"
    try:
        with open(part, "wb") as file:
            file.write(text if isinstance(text, bytes) else text.encode("utf-8"))
        os.replace(part, path)
    except OSError as error:
        try:
            remove_stale(part)
        except OSError:
            pass
        raise WriteFailure(f"cannot write {path}: {error.strerror or error}") from None
    return path


class Scan:
    """The runs of a scan: (folder name, varied value texts) in the order of the command, and
    the input file of each."""

    def __init__(self, folder, base, assignments, bound=RUN_BOUND, final_time=None,
                 outputs=None):
        if not folder:
            raise Refusal("-o names no folder: give the scan's folder, or leave -o out for scan")
        self.folder = os.path.abspath(folder)
        try:
            self.base_texts = read_input(base)
        except OSError as error:
            raise Refusal(f"cannot read {base}: {error.strerror}") from None
        except InputError as error:
            raise Refusal(str(error)) from None
        if not assignments:
            raise Refusal("no values to scan: give NAME=V1,V2,... after BASE")
        self.names, lists = [], []
        for assignment in assignments:
            name, texts = self.read_assignment(assignment)
            self.names.append(name)
            lists.append(texts)
        for name, option, given in (("nt", "--final-time", final_time),
                                    ("every_1D", "--outputs", outputs)):
            if given is not None and name in self.names:
                raise Refusal(f"{option} sets {name}: scan one or the other")
        self.final_time, self.outputs, self.fits = final_time, outputs, {}
        # Counted and measured before anything is built, so that a scan too large for the
        # machine is refused at once.
        count = math.prod(len(texts) for texts in lists)
        if count > bound:
            raise Refusal(f"{count} combinations are more runs than the bound of {bound}; "
                          f"--max-runs {count} raises it")
        longest = [max(texts, key=lambda v, n=name: len(f"{n}={v}".encode()))
                   for name, texts in zip(self.names, lists)]
        if len(self.run_name(longest).encode()) > NAME_BYTES:
            raise Refusal(f"the run folder {self.run_name(longest)} would be "
                          f"{len(self.run_name(longest).encode())} bytes long, more than the "
                          f"{NAME_BYTES} of a folder name")
        self.runs = [(self.run_name(values), values) for values in itertools.product(*lists)]
        for run in self.runs:
            try:
                self.input_of(run)
            except InputError as error:
                raise Refusal(f"{run[0]}: {error}") from None

    def read_assignment(self, assignment):
        """The name and value texts of NAME=V1,V2,...; Refusal when the program could not take
        them."""
        name, equals, values = assignment.partition("=")
        if not equals:
            raise Refusal(f'"{assignment}" is not NAME=V1,V2,...')
        if name not in NAMES:
            raise Refusal(f'"{name}" is not one of the twelve values: {", ".join(NAMES)}')
        if name in self.names:
            raise Refusal(f"{name} is given twice")
        texts = values.split(",")
        if "" in texts:
            raise Refusal(f"{assignment}: an empty value" if values else
                          f"{name}= lists no value")
        numbers = {}
        for text in texts:
            try:
                number = value_of(name, value_text(name, text))
            except InputError as error:
                raise Refusal(f"{assignment}: {error}") from None
            if number in numbers:
                raise Refusal(f"{assignment}: {text} is {numbers[number]} again")
            numbers[number] = text
        return name, texts

    def run_name(self, values):
        return ",".join(f"{n}={v}" for n, v in zip(self.names, values))

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def input_of(self, run):
        """The text of the input file of run."""
        texts = dict(self.base_texts, **dict(zip(self.names, run[1])))
        # The fit depends on six of the values, which most runs of a scan share.
        key = tuple(texts[name] for name in FIT_NAMES)
        if key not in self.fits:
            self.fits[key] = fit_final_time(texts, self.final_time, self.outputs)
        texts.update((name, self.fits[key][name]) for name in ("nt", "every_1D"))
        return input_text(texts)

    def ended(self, run):
        """The exit status (int) and seconds (text) of run from its ended.tsv, or None when it
        has not ended on its present input, or its files are not whole."""
        folder = self.path(run[0])
        try:
            with open(os.path.join(folder, INPUT_FILE), encoding="utf-8") as file:
                if file.read() != self.input_of(run):
                    return None
            with open(os.path.join(folder, ENDED_FILE), encoding="ascii") as file:
                status, seconds = file.read().split("\n")[1].split("\t")
            status = int(status)
            float(seconds)  # a record without its time is no record of an end
        except (OSError, ValueError, IndexError):
            return None
        if status == 0 and not files_whole(folder):
            return None
        return status, seconds

    def prepare(self, runs, stop):
        """Writes the input file of each run anew and forgets how it ended before; stops early
        once stop.received is set."""
        for name, values in runs:
            if stop.received:
                return
            try:
                os.makedirs(self.path(name), exist_ok=True)
                for stale in (ENDED_FILE, NORMS_FILE):
                    remove_stale(self.path(name, stale))
            except OSError as error:
                raise WriteFailure(f"cannot make {self.path(name)}: {error.strerror}") from None
            write_whole(self.path(name, INPUT_FILE), self.input_of((name, values)))


def files_whole(folder):
    """Whether what the program left in folder is whole: a console without NUL bytes, and a
    norms.tsv whose last row is at the time of the last block of a whole phi.xl."""
    try:
        with open(os.path.join(folder, CONSOLE_FILE), "rb") as console:
            while True:
                chunk = console.read(1 << 20)
                if b"\0" in chunk:
                    return False
                if not chunk:
                    break
        profile_time = last_time(os.path.join(folder, "phi.xl"))
        norms = last_norms(os.path.join(folder, NORMS_FILE))
        return profile_time is not None and "time" in norms and \
            math.isclose(float(norms["time"]), profile_time, rel_tol=1e-6)
    except (OSError, ValueError):
        return False


def last_norms(path):
    """The texts of the last row of a norms.tsv by column name, in the order of its header;
    empty when the file is missing or holds no whole row."""
    try:
        with open(path, encoding="ascii") as file:
            lines = file.read().split("\n")
    except (OSError, UnicodeDecodeError):
        return {}
    rows = [line for line in lines[1:-1] if line]
    if not lines[0].startswith("#") or not rows:
        return {}
    return dict(zip(lines[0][1:].split(), rows[-1].split("\t")))


def run_warnings(folder):
    """The kinds of the warnings in the errors.txt of a run folder, one per warning."""
    try:
        with open(os.path.join(folder, ERRORS_FILE), encoding="utf-8", errors="replace") as file:
            lines = file.read().splitlines()
    except OSError:
        return []
    kinds = []
    for line in lines:
        if line.startswith(WARNING_PREFIX):
            text = line[len(WARNING_PREFIX):]
            kinds.append(next((kind for pattern, kind in WARNING_KINDS if pattern.match(text)),
                              " ".join(text.split()[:3])))
    return kinds


def summary_rows(scan, halted):
    """The header and the rows of summary.tsv (a value not known is nan); None when halted()
    turns true before they are made."""
    rows, columns = [], {}
    for name, values in scan.runs:
        if halted():
            return None
        ended = scan.ended((name, values))
        norms = last_norms(scan.path(name, NORMS_FILE)) if ended else {}
        columns.update(dict.fromkeys(norms))
        kinds = run_warnings(scan.path(name)) if ended else []
        # As given, in a form that every reader of numbers takes.
        rows.append(dict(zip(scan.names, (v.translate(str.maketrans("Dd", "ee"))
                                          for v in values)),
                         folder=name, exit_status=str(ended[0]) if ended else "nan",
                         warnings=str(len(kinds)) if ended else "nan",
                         warning_kinds=", ".join(dict.fromkeys(kinds)) or "-",
                         seconds=ended[1] if ended else "nan",
                         **{"final_" + column: text for column, text in norms.items()}))
    # The norm columns are those the program wrote, whatever they are.
    header = ["folder", *scan.names, "exit_status", "warnings", "warning_kinds",
              *("final_" + column for column in columns), "seconds"]
    return header, [[row.get(column, "nan") for column in header] for row in rows]


def summary_text(header, rows):
    return "".join("\t".join(row) + "\n" for row in [header] + rows)


def read_scan(folder):
    """The summary.tsv of a scan as a pandas DataFrame, one row per run: the varied values
    (int or float, by name), exit_status and warnings (Int64, missing for a run that had not
    ended), warning_kinds (text, empty without warnings), the final_ norms and seconds
    (float), and folder, the absolute path of the run's folder, so that
    wave1d.read_run(row.folder) reads the run. Needs pandas."""
    import pandas

    path = os.path.join(folder, SUMMARY_FILE)
    table = pandas.read_csv(path, sep="\t", dtype=str, keep_default_na=False)
    for column in table.columns:
        if column == "folder":
            table[column] = [os.path.join(os.path.abspath(folder), name)
                             for name in table[column]]
        elif column == "warning_kinds":
            table[column] = table[column].replace("-", "")
        elif column in ("exit_status", "warnings"):
            table[column] = pandas.array([None if text == "nan" else int(text)
                                          for text in table[column]], dtype="Int64")
        elif column in NAMES:
            table[column] = [value_of(column, text) for text in table[column]]
            if column not in INTEGER_NAMES:
                table[column] = table[column].astype(float)
        else:
            table[column] = table[column].astype(float)
    return table
