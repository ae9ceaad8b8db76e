"""The readers of a run's files: every number form exactly as float() reads it, files cut
anywhere, a run still running or killed, and norms that are not the profiles' own."""

import contextlib
import fcntl
import math
import os
import random
import subprocess
import tempfile
import time

import numpy
import pytest

import wave1d
from profile_text import xl_blocks, xtl_blocks
from wave1d_testing import PROGRAM, input_file

SPECIAL = [0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, 2.2250738585072014e-308,
           1.7976931348623157e308, 1e22, 1e23, 1e-14, 1e-15, 999999999e22, 123456789e-23,
           # On halfway between two doubles, or just across it: a reader that does not round
           # exactly, such as one that multiplies in long doubles, gives the other double.
           7.53496176e-192, 5.61469467e-44, 4.12059092e-32, 3.06036248e-22, 7.97826325e+38,
           7.31499145e+108, 2.75700577e+258, 7.66609270e+298, 8.25539736e-22, 8.00566441e+108,
           7.27471693e+258]


def number_forms():
    """Values of every decimal exponent of a double, both signs, and the special ones."""
    draw = random.Random(31)
    values = [draw.uniform(1, 10) * 10.0**e for e in range(-307, 308) for _ in range(3)]
    values += [draw.uniform(1, 10) * 1e-300 * 10.0**e for e in range(-24, -7)]  # subnormal
    return SPECIAL + values + [-v for v in values]


def as_written(values, digits):
    """float() of each value's text in the files, which rounds it to digits digits."""
    return numpy.array([float(f"{v:.{digits - 1}E}") for v in values])


def bits(*arrays):
    return [list(numpy.asarray(values, dtype=float).view(numpy.uint64)) for values in arrays]


# The program's layout, and single blanks between fields.
LAYOUTS = pytest.mark.parametrize("layout", [
    lambda texts: texts,
    lambda texts: ["\n".join(" ".join(line.split()) for line in text.split("\n"))
                   for text in texts]], ids=["program", "free"])
FILES = pytest.mark.parametrize("read, lay_out, time_digits", [
    (wave1d.read_xl, xl_blocks, 7), (wave1d.read_xtl, xtl_blocks, 9)], ids=["xl", "xtl"])


@pytest.mark.parametrize("sizes", [[50], [49, 51]], ids=["even", "uneven"])
@LAYOUTS
@FILES
def test_every_number_form_is_read_as_float_reads_it(tmp_path, sizes, layout, read, lay_out,
                                                     time_digits):
    values = number_forms()
    starts = numpy.cumsum([0] + sizes * len(values))
    blocks = [(values[k], values[k:end], values[::-1][k:end])
              for k, end in zip(starts, starts[1:]) if end < len(values)]
    (tmp_path / "file").write_text("".join(layout(lay_out(blocks))))
    found = read(tmp_path / "file")
    assert len(found) == len(blocks)
    for (time_read, x, phi), (time_value, xs, phis) in zip(found, blocks):
        assert bits([time_read], x, phi) == bits(as_written([time_value], time_digits),
                                                 as_written(xs, 9), as_written(phis, 9))


@LAYOUTS
@FILES
def test_a_file_cut_anywhere_gives_its_whole_output_times(tmp_path, layout, read, lay_out,
                                                          time_digits):
    texts = layout(lay_out([(t, [-1.5, 0.0, 2e-300, 1e300], [1.0, 0.0, -3.5e-8, 7.25e120])
                            for t in (0, .5, 1)]))
    path, text = tmp_path / "cut", "".join(texts)
    path.write_text(text)
    whole = read(path)
    ends = numpy.cumsum([len(block) for block in texts])
    for cut in range(len(text) + 1):
        path.write_text(text[:cut])
        found = read(path)
        # A phi.xtl block has all its points one empty line before it ends.
        assert sum(ends <= cut) <= len(found) <= sum(ends - (read is wave1d.read_xtl) <= cut)
        assert [bits([t], x, phi) for t, x, phi in found] == [
            bits([t], x, phi) for t, x, phi in whole[:len(found)]]


def test_profiles_are_read_with_no_place_for_temporary_files(tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path / "missing"))
    (tmp_path / "phi.xl").write_text("".join(xl_blocks([(0, [1.5, 2], [3, 4e200])])))
    [(time_read, x, phi)] = wave1d.read_xl(tmp_path / "phi.xl")
    assert bits([time_read], x, phi) == bits([0], [1.5, 2], [3, 4e200])


def test_norms_cut_anywhere_and_their_number_forms(tmp_path):
    text = "# time\tenergy\n0\tinf\n1e-300\t-inf\n2.5\tnan\n3\t1.0000000000000004\n"
    rows = [[0, 1e-300, 2.5, 3], [math.inf, -math.inf, math.nan, 1.0000000000000004]]
    for cut in range(len(text) + 1):
        (tmp_path / "norms.tsv").write_text(text[:cut])
        read = wave1d.read_norms(tmp_path / "norms.tsv")
        whole_rows = max(text[:cut].count("\n") - 1, 0)
        assert list(read) == (["time", "energy"] if "\n" in text[:cut] else [])
        assert bits(*read.values()) == bits(*(row[:whole_rows] for row in rows))[:len(read)]


@pytest.mark.parametrize("name, text, message", [
    ("phi.xl", "#Time =   0.000000E+00\n  1.0E+00  1.0E+0x\n\n\n", 'line 2: "1.0E\\+0x" is not'),
    ("phi.xl", "#Time =   0.000000E+00\n  1.00000000E+00  1.0000000xE+00\n\n\n", "line 2"),
    ("phi.xl", "#Tim =   0.000000E+00\n  1.00000000E+00  1.00000000E+00\n\n\n", "line 1: exp"),
    ("phi.xtl", "  1.0E+00  1.0E+00\n\n\n", 'line 1: expected "t x phi"'),
    ("norms.tsv", "# time\tenergy\n0\t1\n2\n", "line 3: expected 2 numbers, found 1"),
])
def test_a_line_of_another_form_is_refused_by_its_number(tmp_path, name, text, message):
    (tmp_path / name).write_text(text)
    read = {"phi.xl": wave1d.read_xl, "phi.xtl": wave1d.read_xtl, "norms.tsv": wave1d.read_norms}
    with pytest.raises(ValueError, match=f"{name}, {message}"):
        read[name](tmp_path / name)


@contextlib.contextmanager
def held(path):
    """phi.xl locked as a running program holds it."""
    with open(path, "rb") as file:
        fcntl.flock(file, fcntl.LOCK_EX)
        yield


def program(folder, *options, **changes):
    input_file(folder / "input", **changes)
    subprocess.run([PROGRAM, *options, "input"], cwd=folder, check=True, capture_output=True)


def test_a_run_is_complete_once_the_program_has_written_every_output_time(tmp_path):
    program(tmp_path)
    assert wave1d.read_run(tmp_path).complete
    with held(tmp_path / "phi.xl"):
        assert not wave1d.read_run(tmp_path).complete
    folder = tmp_path / "long"
    folder.mkdir()
    input_file(folder / "input", nx=2000, nt=2147483647, every_1D=5000)
    with subprocess.Popen([PROGRAM, "--norms", "input"], cwd=folder, stdout=subprocess.DEVNULL,
                          env=dict(os.environ, OMP_NUM_THREADS="1")) as running:
        # The first output time is written out at once, the next ones a second later; phi.xl
        # also whenever its buffer fills, so it may hold output times that norms.tsv has not yet.
        deadline = time.monotonic() + 60
        while not (folder / "phi.xl").exists() or \
                len((during := wave1d.read_run(folder)).times) < 2:
            assert time.monotonic() < deadline and running.poll() is None
            time.sleep(0.1)
        running.kill()
    after = wave1d.read_run(folder)
    for run in during, after:
        assert not run.complete and len(run.times) >= 2 and run.phi.shape == (len(run.times), 501)
        assert numpy.allclose(run.norms["time"], run.times, rtol=1e-6, atol=0)


def cut_last(path, end):
    """Cuts the file after the last end but the one it ends with."""
    text = path.read_bytes()
    path.write_bytes(text[:text.rstrip(b"\n").rfind(end) + len(end)])


@pytest.mark.parametrize("make, lock, times, left_out", [
    # Another courant: other times.
    (lambda f: (program(f, "--norms"), program(f, courant=0.25)), False, 5,
     r"its times .*: row 2 is at time 1\.25, not 0\.625"),
    # A norms.tsv whose header is not yet whole holds nothing back.
    (lambda f: (program(f, "--norms"), (f / "norms.tsv").write_bytes(b"# time")), True, 5,
     None),
    (lambda f: (program(f, "--norms", nt=80), program(f)), False, 5, "9 rows for the 5"),
    # While a run goes on, or after it was killed, either file may be a block ahead.
    (lambda f: (program(f, "--norms"), cut_last(f / "norms.tsv", b"\n")), True, 4, None),
    (lambda f: (program(f, "--norms"), cut_last(f / "phi.xl", b"\n\n\n")), True, 4, None),
    (lambda f: (program(f, "--norms"), cut_last(f / "phi.xl", b"\n\n\n")), False, 4, None),
])
def test_norms_are_kept_only_at_the_times_of_the_profiles(tmp_path, make, lock, times,
                                                          left_out):
    make(tmp_path)
    with held(tmp_path / "phi.xl") if lock else contextlib.nullcontext():
        with pytest.warns(wave1d.RunWarning, match=left_out) if left_out else \
                contextlib.nullcontext():
            run = wave1d.read_run(tmp_path)
    assert len(run.times) == len(run.phi) == times
    if left_out:
        assert run.norms == {} and run.complete
        with pytest.raises(KeyError, match="earlier run's; run with norms=True .* --norms"):
            run.norms["energy"]
    elif run.norms:
        assert numpy.allclose(run.norms["time"], run.times, rtol=1e-6, atol=0)
