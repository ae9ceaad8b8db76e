"""The view command: one self-contained web page that plays the phi profiles of runs.

    python3 -m wave1d view [-o FILE] [--limit MB] DIR...

The page opens in any web browser, from the disk and with no network. It plays the profiles
frame by frame, zooms, shows the values under the pointer as the files write them, overlays the
runs or shows the difference of the second from the first, and draws the norms of each run that
has them under the profile. It is written from the arrays of read_run: the browser only decodes
them, and reads no file of a run.
"""

import argparse
import base64
import json
import os
import re
import sys
import tempfile
import warnings

from .commands import standalone
from .inputs import NAMES
from .runs import RunWarning, read_run

__all__ = ["configure", "execute", "main", "run_labels", "outlying_runs"]

# Where Debian's libjs-dygraphs puts the plotting library.
LIBRARY = "/usr/share/javascript/dygraphs/dygraph.min.js"
LIBRARY_STYLE = "/usr/share/javascript/dygraphs/dygraph.min.css"
# The page's own template and script, beside this module.
PAGE_FILES = os.path.dirname(os.path.abspath(__file__))
DEFAULT_LIMIT_MB = 40
# A run whose largest |phi| is more than this many times that of the runs below it would
# flatten them to a line of a few pixels: the y-range leaves it out.
OUTLYING_FACTOR = 100


class Failure(Exception):
    """A page that cannot be made; the message says why."""


def megabytes(text):
    """The --limit of the command line: a number of megabytes above 0."""
    try:
        value = float(text)
    except ValueError:
        value = -1
    if not value > 0:
        raise argparse.ArgumentTypeError(f'takes a number of megabytes above 0, not "{text}"')
    return value


def configure(parser):
    """Adds the view command's description and arguments to parser."""
    parser.description = (
        "Writes one web page that plays the phi profiles of the runs in DIR...: frame by "
        "frame, zoomed, with the values under the pointer as the files write them, the runs "
        "overlaid or the second minus the first, and under the profile the norms of each run "
        "that has them. The page holds everything it needs and opens from the disk with no "
        "network. Several runs are labelled by the input values that differ between them; a "
        "run that grows far beyond the others (one that blew up) is left out of the y-range, "
        "and the page says so. Needs numpy and the plotting library of Debian's "
        "libjs-dygraphs.")
    parser.add_argument("folders", nargs="+", metavar="DIR",
                        help="the folder of a run, holding its phi.xl (and norms.tsv, if any)")
    parser.add_argument("-o", "--output", metavar="FILE",
                        help="the page to write (default: phi-view.html in the first DIR)")
    parser.add_argument("--limit", type=megabytes, default=DEFAULT_LIMIT_MB, metavar="MB",
                        help="above MB megabytes of phi.xl in all, the page keeps evenly spaced "
                        "output times of each run, the first and the last included "
                        f"(default: {DEFAULT_LIMIT_MB})")
    parser.set_defaults(view_prog=parser.prog)


def main(argv=None, prog=None):
    """The view command on its own: see commands.standalone."""
    return standalone(configure, execute, "wave1d-view", argv, prog)


def execute(args):
    """Writes the page of args.folders; returns the exit status: 0, or 1 with a message on
    standard error when a folder cannot be read or the page cannot be written."""
    prog = getattr(args, "view_prog", "wave1d-view")
    try:
        output = write_page(args.folders, args.output, args.limit * 1e6,
                            lambda text: print(f"{prog}: {text}", file=sys.stderr))
    except Failure as failure:
        print(f"{prog}: {failure}", file=sys.stderr)
        return 1
    print(f"wrote {output}")
    return 0


def write_page(folders, output, limit, tell):
    """Writes the page of the runs of folders to output (None: phi-view.html of the first);
    returns where it wrote it. tell receives what the user should know on standard error."""
    # A scan's folder holds its summary files beside the runs, and DIR/* names them too.
    folders = [folder for folder in folders if not os.path.isfile(folder)] or folders
    paths = [profile_file(folder) for folder in folders]
    runs, notes = [], []
    for folder in folders:
        run, said = read_folder(folder)
        runs.append(run)
        notes += said
        for note in said:
            tell(f"warning: {note}")
    labels, title = run_labels(folders, runs)
    total = sum(os.path.getsize(path) for path in paths)
    kept = [kept_outputs(len(run.times), total, limit) for run in runs]
    cut = [f"{label}: {len(k)} of its {len(run.times)} output times, evenly spaced, the first "
           "and the last included" for label, run, k in zip(labels, runs, kept)
           if len(k) < len(run.times)]
    if cut:
        notes.insert(0, f"phi.xl holds {total / 1e6:.0f} MB, above the limit of "
                     f"{limit / 1e6:g} MB; the page shows " + "; ".join(cut) + ".")
        tell(notes[0])
    ranges = [finite_range(run.phi[k]) for run, k in zip(runs, kept)]
    extents = [max(map(abs, extent), default=0.0) for extent in ranges]
    outliers = outlying_runs(extents)
    fitted = max((e for r, e in enumerate(extents) if r not in outliers), default=0.0)
    for r in sorted(outliers):
        notes.append(f"{labels[r]} reaches |phi| {extents[r]:.3g}, over {OUTLYING_FACTOR} "
                     f"times the {fitted:.3g} of the runs that stay smaller: the y-range leaves "
                     "it out, and its curve leaves the plot where it grows; tick \"fit every "
                     'run" to bring it in.')
    facts = {
        "title": title, "notes": notes,
        "runs": [{"name": label, "times": packed(run.times[k]), "x": packed(run.x),
                  "phi": packed(run.phi[k]), "range": extent, "outlier": r in outliers}
                 for r, (label, run, k, extent) in enumerate(zip(labels, runs, kept, ranges))],
        "norms": [{"run": r, "names": list(run.norms), "rows": packed(norms_table(run.norms))}
                  for r, run in enumerate(runs) if run.norms],
    }
    output = output or os.path.join(folders[0], "phi-view.html")
    write_atomically(output, page_pieces(title, facts))
    return output


def profile_file(folder):
    """The path of folder/phi.xl; Failure when there is none to read."""
    if not os.path.isdir(folder):
        raise Failure(f"{folder} is not a folder")
    path = os.path.join(folder, "phi.xl")
    if not os.path.exists(path):
        raise Failure(f"{path} does not exist: run wave1d in {folder} first")
    if not os.path.isfile(path):
        raise Failure(f"{path} is not a regular file")
    return path


def read_folder(folder):
    """The Run of folder, and the notes on what of it the page does not show: the norms that
    read_run left out (its RunWarning), the output times still to come."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", RunWarning)
        try:
            run = read_run(folder)
        except ImportError as error:
            raise Failure(f"{error.name} is needed to read the runs (Debian: "
                          f"python3-{error.name})") from None
        except OSError as error:
            raise Failure(f"cannot read {error.filename}: {error.strerror}") from None
        except (ValueError, UnicodeDecodeError) as error:
            raise Failure(f"{folder} cannot be shown: {error}") from None
    notes = []
    for warning in caught:
        if issubclass(warning.category, RunWarning):
            notes.append(f"{warning.message}.")
        else:
            warnings.warn_explicit(warning.message, warning.category, warning.filename,
                                   warning.lineno)
    if len(run.times) == 0:
        raise Failure(f"{folder}/phi.xl holds no whole profile: a run that stopped before its "
                      "first, or not a file of profiles")
    if not run.complete:
        notes.append(f"{folder}: the run has not finished (it runs still, or it was stopped): "
                     f"the page shows the {len(run.times)} output times written so far.")
    return run, notes


def run_labels(folders, runs):
    """The label of each run and the title of the page. Several runs of a scan, in folders
    named NAME=V,NAME=V..., are labelled NAME=V, ... with the input values that differ
    between them (from their input files), and the title lists those values behind the folder
    that holds the runs, if one does. Other folders, as given, label their runs and make the
    title: their names are the user's own."""
    differ = [name for name in NAMES
              if len({run.inputs.get(name) for run in runs}) > 1]
    labels = [", ".join(f"{name}={value_label(run.inputs[name])}" for name in differ)
              for run in runs]
    scan = all(_SCAN_FOLDER.fullmatch(os.path.basename(os.path.normpath(folder)))
               for folder in folders)
    if len(runs) < 2 or not scan or not differ or not all(run.inputs for run in runs) \
            or len(set(labels)) < len(labels):
        return list(folders), " ".join(folders)
    values = ["{}={}".format(name, ", ".join(
        value_label(v) for v in sorted({run.inputs[name] for run in runs}))) for name in differ]
    parents = {os.path.dirname(os.path.normpath(folder)) for folder in folders}
    parent = parents.pop() + ": " if len(parents) == 1 and "" not in parents else ""
    return labels, parent + "; ".join(values)


# The name of a run folder of a scan.
_SCAN_FOLDER = re.compile(r"({0})=[^,]+(,({0})=[^,]+)*".format("|".join(NAMES)))


def value_label(value):
    """An input value as a label writes it: the shortest text that reads back as it."""
    text = repr(value)
    return text[:-2] if text.endswith(".0") else text


def outlying_runs(extents):
    """The places of the runs above the first gap of more than OUTLYING_FACTOR between the
    largest |phi| of the runs (extents) in increasing order, runs of zeros left aside: those
    that grew far beyond the runs below, however many of them did."""
    ordered = sorted(extent for extent in extents if extent > 0)
    for below, above in zip(ordered, ordered[1:]):
        if above > OUTLYING_FACTOR * below:
            return {r for r, extent in enumerate(extents) if extent >= above}
    return set()


def finite_range(phi):
    """The smallest and the largest finite phi, [] when there is none."""
    import numpy

    finite = phi[numpy.isfinite(phi)]
    return [float(finite.min()), float(finite.max())] if finite.size else []


def kept_outputs(count, total, limit):
    """The places of the output times that the page holds of a run of count, when the
    phi.xl files of all the runs hold total bytes: all of them up to limit bytes, else evenly
    spaced ones in proportion, the first and the last included."""
    import numpy

    frames = count if total <= limit else max(2, int(count * limit / total))
    if frames >= count:
        return numpy.arange(count)
    return numpy.unique((numpy.arange(frames) * (count - 1) / (frames - 1) + 0.5).astype(int))


def norms_table(norms):
    """The columns of norms as one array, a row per time."""
    import numpy

    return numpy.column_stack(list(norms.values()))


def packed(values):
    """The page's form of an array of floats: their little-endian doubles in base64, every
    value exact, read in the browser as a Float64Array."""
    import numpy

    data = numpy.ascontiguousarray(values, dtype="<f8").tobytes()
    return base64.b64encode(data).decode("ascii")


def script_text(text):
    """Text that may stand inside a <script> element of the page."""
    return text.replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026")


def page_pieces(title, facts):
    """The page as a list of texts: the template with its {{name}} fields filled in."""
    for path in (LIBRARY, LIBRARY_STYLE):
        if not os.path.isfile(path):
            raise Failure(f"the plotting library is missing: no {path} "
                          "(on Debian: apt-get install libjs-dygraphs)")

    def text_of(path):
        with open(path, encoding="utf-8") as file:
            return file.read()

    fields = {
        "library_style": lambda: text_of(LIBRARY_STYLE),
        "library": lambda: text_of(LIBRARY),
        "page_script": lambda: text_of(os.path.join(PAGE_FILES, "view_page.js")),
        "title": lambda: title.replace("&", "&amp;").replace("<", "&lt;"),
        "facts": lambda: script_text(json.dumps(facts)),
    }
    pieces = re.split(r"\{\{(\w+)\}\}", text_of(os.path.join(PAGE_FILES, "view_page.html")))
    return [fields[piece]() if k % 2 else piece for k, piece in enumerate(pieces)]


def write_atomically(output, pieces):
    """Writes the texts to output under another name beside it, renamed once complete, so that
    a page being written is never opened half-made."""
    target = os.path.dirname(os.path.abspath(output))
    try:
        handle, scratch = tempfile.mkstemp(dir=target, prefix=".phi-view.")
    except OSError as error:
        raise Failure(f"cannot write in {target}: {error.strerror}") from None
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as page:
            page.writelines(pieces)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(scratch, 0o666 & ~umask)
        os.replace(scratch, output)
    except OSError as error:
        os.unlink(scratch)
        raise Failure(f"cannot write {output}: {error.strerror}") from None


if __name__ == "__main__":
    sys.exit(main())
