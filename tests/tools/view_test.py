"""tools/view on real runs, its pages opened in headless Chromium: the frame count, a frame's time
and largest |phi| as phi.xl writes them, differences, notes, the norms of the frame's time where
a folder holds them, tick labels that read as their ticks, a scan with a run that blew up, and no
network request. Skipped without Chromium."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import types
import warnings

import numpy
import pytest

import wave1d
from profile_text import written
from wave1d.profiles import parse_number
from wave1d.view import outlying_runs, run_labels
from wave1d_testing import PROGRAM, tool

if shutil.which("chromium") is None:
    pytest.skip("chromium is not installed (Debian: chromium)", allow_module_level=True)

RUNS = {  # the options and the twelve values of each run
    "pulse": "--norms -10 10 400 0.5 800 2 1 1 0 40 0 0",
    "double": "-10 10 400 0.5 800 2 2 1 0 40 0 0",  # twice the pulse, exactly
    "coarse": "-10 10 200 0.5 400 2 1 1 0 30 0 0",  # other points, other output times
    "grown": "-10 10 40 2.6 600 1 1 1 0 600 0 0",  # three-digit exponents
    "blown": "--norms -10 10 40 2.6 1322 1 1 1 0 661 0 0",  # Infinity, then NaN written as zero
    "many": "--norms -10 10 400 0.5 800 2 1 1 0 4 0 0",  # 201 output times
    "stale": "-10 10 400 0.5 800 2 1 1 0 80 0 0",  # given the norms.tsv of pulse below
    "running": "--norms -10 10 400 0.5 800 2 1 1 0 40 0 0",  # its last row of norms cut below
    "stopped": "-10 10 400 0.5 800 2 1 1 0 40 0 0",  # with its input, its profiles cut below
}

# Folders, tools/view options, the page's address fragment; what #status says is checked
# against phi.xl of the first folder (with diff=1, against the difference of the second's
# values from the first's; "largest": None leaves the value out); notes, words the page must
# say ({frames}: the page's frame count); fewer: the page holds fewer frames than phi.xl. Under
# the profile, the row of norms.tsv of the frame's time, for each folder that holds one.
CASES = [
    dict(runs=["pulse"], fragment="frame=3"),
    dict(runs=["pulse"], fragment="frame=21"),
    dict(runs=["grown"], fragment="frame=2"),
    dict(runs=["blown"], fragment="frame=2"),
    dict(runs=["blown"], fragment="frame=3"),
    dict(runs=["pulse", "pulse"], fragment="frame=4&diff=1", notes=["whose x values coincide"]),
    dict(runs=["pulse", "double"], fragment="frame=6&diff=1"),
    dict(runs=["pulse", "coarse"], fragment="frame=5&diff=1", largest=None,
         notes=["linear interpolation", "output times of coarse differ", "coarse is shown at time"]),
    dict(runs=["many"], options=["--limit", "0.5"], fragment="frame=999", fewer=True,
         notes=["{frames} of its 201 output times, evenly spaced"]),
    dict(runs=["many", "pulse"], fragment="frame=7"),
    # The output times both files hold.
    dict(runs=["running"], fragment="frame=20", fewer=True),
    dict(runs=["stopped"], fragment="frame=12", notes=["stopped: the run has not finished"]),
    dict(runs=["stale", "pulse"], fragment="frame=2",
         notes=["stale/norms.tsv"]),
]


# A scan of the Courant factor and the amplitude, in folders named as tools/scan names them:
# at 2.6 a run grows to about 1e52.
SCAN_BASE = dict(xmin=-10, xmax=10, nx=40, nt=116, boundtype=1, width=1, center=0, every_1D=4,
                 lapsetype=0, shifttype=0)
SCAN = ["courant=0.5,amplitude=1", "courant=0.5,amplitude=2", "courant=2.6,amplitude=1"]
# Runs of the scan viewed together, and the legend, the title and the runs named as left out of
# the y-range that the page should show.
SCAN_CASES = [
    (SCAN[:2], ["amplitude=1", "amplitude=2"], "scan: amplitude=1, 2", []),
    (SCAN, ["courant=0.5, amplitude=1", "courant=0.5, amplitude=2", "courant=2.6, amplitude=1"],
     "scan: courant=0.5, 2.6; amplitude=1, 2", ["courant=2.6, amplitude=1"]),
]


def block(path, k):
    """The number of output times of phi.xl, and the time text and phi texts of the k-th (from 1,
    the last one for a larger k)."""
    with open(path) as file:
        blocks = [(words[0], words[2::2]) for words in
                  map(str.split, file.read().split("#Time =")[1:])]
    return len(blocks), blocks[min(k, len(blocks)) - 1]


def norms_shown(folder, time):
    """What the page says of the norms of folder at the time of a frame: the row of norms.tsv
    nearest to that time; None when the folder holds no norms.tsv of its run."""
    path = os.path.join(folder, "norms.tsv")
    if not os.path.exists(path) or os.path.basename(folder) == "stale":  # another run's
        return None
    with open(path) as file:
        header, *rows = [line.rstrip("\n").split("\t") for line in file]
    row = min(rows, key=lambda row: abs(float(row[0]) - parse_number(time)))
    return f"norms of {os.path.basename(folder)} at time {row[0]}: " + ", ".join(
        f"{name} {value}" for name, value in zip(header[1:], row[1:]))


def largest_text(texts):
    finite = [text for text in texts if parse_number(text) == parse_number(text)]
    return max(finite, key=lambda text: abs(parse_number(text))).lstrip("-")


def chromium(url, *flags):
    with tempfile.TemporaryDirectory() as profile:
        # --no-sandbox: Chromium runs as root only without its sandbox.
        command = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                   "--no-first-run", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}",
                   *flags,
                   "--dump-dom", "--virtual-time-budget=10000", url]
        return subprocess.run(command, capture_output=True, text=True, timeout=120).stdout


def page_requests(net_log):
    """The URLs that a page (not the browser itself) asked the network for."""
    log = json.loads(net_log.read_text())
    start = log["constants"]["logEventTypes"]["URL_REQUEST_START_JOB"]
    return [event["params"]["url"] for event in log["events"]
            if event["type"] == start and "file://" in json.dumps(event["params"])]


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    """A folder of the runs of RUNS, each in a folder of its name."""
    scratch = tmp_path_factory.mktemp("runs")
    for name, words in RUNS.items():
        os.mkdir(scratch / name)
        subprocess.run([PROGRAM, *[w for w in words.split() if w.startswith("--")]], text=True,
                       input="".join(w + "\n" for w in words.split() if w[:2] != "--"),
                       check=True, cwd=scratch / name, capture_output=True)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", wave1d.RunWarning)  # the Courant factor of 2.6
        for folder in SCAN:
            values = dict(pair.split("=") for pair in folder.split(","))
            wave1d.run(scratch / "scan" / folder, norms=True, **SCAN_BASE, **values)
    shutil.copy(scratch / "pulse" / "norms.tsv", scratch / "stale")
    # While a run goes on, its norms.tsv can be a row behind phi.xl.
    with open(scratch / "running" / "norms.tsv", "r+") as file:
        file.truncate(file.read().rindex("\n", 0, -1) + 1)
    (scratch / "stopped" / "input").write_text("\n".join(RUNS["stopped"].split()) + "\n")
    with open(scratch / "stopped" / "phi.xl", "r+") as file:
        file.truncate(file.read().index("#Time =   1.200000E+01"))
    return scratch


def view(scratch, *arguments):
    return tool("view", *arguments, cwd=scratch)


def tick_labels(dom):
    """The tick labels of each graph of the page, the profile's first: (x labels, y labels), with
    the ticks that a logarithmic axis leaves blank left out."""
    graphs = re.split(r'id="plot"|class="norms-plot"', dom)[1:]
    return [tuple(re.findall(rf'dygraph-axis-label-{axis}"[^>]*>([^<]+)<', graph)
                  for axis in "xy") for graph in graphs]


def check_whole(labels, even):
    """Tick labels are short numbers, told apart, and (even) evenly spaced as they read."""
    values = [float(label) for label in labels]
    assert all(len(label) <= 8 for label in labels) and len(set(values)) == len(values), labels
    steps = numpy.diff(values)
    assert not even or numpy.allclose(steps, steps[0], rtol=1e-9, atol=0), labels


@pytest.mark.parametrize("case", CASES, ids=lambda case: " ".join(case["runs"]) + " #" +
                         case["fragment"])
def test_the_page_shows_a_frame_as_phi_xl_writes_it(scratch, tmp_path, case):
    page = tmp_path / "page.html"
    assert view(scratch, "-o", page, *case.get("options", []), *case["runs"]).returncode == 0
    dom = chromium(f"file://{page}#{case['fragment']}")
    status = re.search(r'<div id="status">([^<]*)</div>', dom)
    status = status.group(1) if status else "(no #status)"
    k = int(re.search(r"frame=(\d+)", case["fragment"]).group(1))
    outputs, (time, texts) = block(scratch / case["runs"][0] / "phi.xl", k)
    frames = outputs
    if case.get("fewer"):
        frames = int(re.search(r" of (\d+)", status).group(1))
        assert frames < outputs
    largest = case.get("largest", largest_text(texts))
    if "diff=1" in case["fragment"] and "largest" not in case:
        others = block(scratch / case["runs"][1] / "phi.xl", k)[1][1]
        largest = written(max(abs(parse_number(b) - parse_number(a))
                              for a, b in zip(texts, others)), 9)
    want = f"frame {min(k, frames)} of {frames}, time {time}, max |phi| "
    assert status == want + largest if largest else status.startswith(want), status
    shown = [norms_shown(scratch / run, time) for run in case["runs"]]
    norms = re.findall(r'<div class="norms-status">([^<]*)</div>', dom)
    assert norms == [text for text in shown if text]
    for words in case.get("notes", []):
        assert words.format(frames=frames) in dom
    for graph, (x, y) in enumerate(tick_labels(dom)):
        check_whole(x, even=True)
        check_whole(y, even=graph == 0)  # the norms may be on a logarithmic scale


@pytest.mark.parametrize("folders, legend, title, left_out", SCAN_CASES)
def test_a_scan_is_labelled_by_what_differs_and_a_blow_up_does_not_flatten_it(
        scratch, tmp_path, folders, legend, title, left_out):
    page = tmp_path / "page.html"
    folders = [f"scan/{folder}" for folder in folders]
    assert view(scratch, "-o", page, *folders).returncode == 0
    dom = chromium(f"file://{page}#frame=30")
    assert re.search(r"<h1>phi against x: ([^<]*)</h1>", dom).group(1) == title
    values = re.search(r'<div id="values">(.*?)</div>\s*<div id="plot"', dom).group(1)
    assert re.findall(r"</div> ([^<]*)</span>", values) == legend
    assert re.findall(r"<p>([^<]*) reaches \|phi\| [^<]*", dom) == left_out
    # The y-range fits the others at every frame, as if the run that blew up were not there.
    fitted = numpy.concatenate([wave1d.read_run(scratch / folder).phi.ravel()
                                for folder, name in zip(folders, legend) if name not in left_out])
    low, high = map(float, re.search(r'data-y-range="([^"]*)"', dom).group(1).split())
    assert low <= fitted.min() and fitted.max() <= high
    assert high - low < 1.5 * (fitted.max() - fitted.min())


@pytest.mark.parametrize("extents, outlying", [
    ([1, 5e52], {1}), ([1, 1, 2, 1e300, 3e8], {3, 4}),
    ([1, 2, 1e20, 1e52, 1e80], {2, 3, 4}),  # most runs of a scan of the Courant factor blew up
    ([1, 10, 100, 1000], set()),  # a scan of amplitudes: each is in the scan's range
    ([0, 0, 5], set()), ([1e52], set())])
def test_runs_far_beyond_the_runs_below_are_outlying(extents, outlying):
    assert outlying_runs(extents) == outlying


@pytest.mark.parametrize("folders, inputs, labels", [
    (["s/nx=40,courant=1", "s/nx=80,courant=1"],
     [dict(nx=40, courant=1.0), dict(nx=80, courant=1.0)], ["nx=40", "nx=80"]),
    (["n40", "n80"], [dict(nx=40), dict(nx=80)], ["n40", "n80"]),  # the user's own names
    (["s/nx=40", "s/nx=80"], [{}, {}], ["s/nx=40", "s/nx=80"]),  # no input files
    (["s/nx=40", "t/nx=40"], [dict(nx=40), dict(nx=40)], ["s/nx=40", "t/nx=40"])])  # all alike
def test_runs_are_labelled_by_the_values_that_differ_in_a_scan_only(folders, inputs, labels):
    runs = [types.SimpleNamespace(inputs=values) for values in inputs]
    assert run_labels(folders, runs)[0] == labels


def test_the_page_asks_the_network_for_nothing(scratch, tmp_path):
    """Two runs overlaid, as the user opens them: everything the page needs is inside it."""
    page, net_log = tmp_path / "page.html", tmp_path / "net.json"
    assert view(scratch, "-o", page, "pulse", "coarse").returncode == 0
    chromium(f"file://{page}", f"--log-net-log={net_log}")
    assert re.search(r"Content-Security-Policy\"\s+content=\"default-src 'none';",
                     page.read_text()[:2000])
    assert page_requests(net_log) == []


@pytest.mark.parametrize("profiles, said", [
    (None, "run/phi.xl does not exist"), ("", "run/phi.xl holds no whole profile"),
    ("#Time =   0.000000E+00\n  1.0 x\n\n\n", 'run/phi.xl, line 2: "x" is not a number')])
def test_a_folder_without_profiles_is_named(tmp_path, profiles, said):
    os.mkdir(tmp_path / "run")
    if profiles is not None:
        (tmp_path / "run" / "phi.xl").write_text(profiles)
    refused = view(tmp_path, "run")
    assert refused.returncode == 1 and said in refused.stderr and not refused.stdout
