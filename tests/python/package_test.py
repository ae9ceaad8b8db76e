"""The package wave1d: run() and read_run() against the files of real runs, refusals before a
run, failures, and pip install. The readers' own cases are in reader_test.py."""

import importlib.util
import math
import os
import subprocess
import sys

import numpy
import pytest

import wave1d
from profile_text import written
from wave1d_testing import CHECKOUT, PROGRAM, SMALL, direct_run, input_file, is_png


def test_run_returns_what_the_program_wrote(tmp_path):
    numbers = {name: (int(text) if name in wave1d.inputs.INTEGER_NAMES else float(text))
               for name, text in SMALL.items()}
    run = wave1d.run(folder=tmp_path / "run", norms=True, **numbers)
    direct = direct_run(tmp_path / "direct", input_file(tmp_path / "in"))
    for name in ("phi.xl", "norms.tsv"):
        assert (tmp_path / "run" / name).read_bytes() == direct[name]
    # The profiles read are checked against the file's text on a blown-up run below.
    assert list(run.times) == [0, 1.25, 2.5, 3.75, 5] and run.phi.shape == (5, 21)
    table = numpy.loadtxt(tmp_path / "run" / "norms.tsv")
    assert numpy.array_equal(numpy.column_stack(list(run.norms.values())), table)
    assert run.inputs == numbers


def test_a_base_and_changes_in_a_folder_run_before(tmp_path):
    base = input_file(tmp_path / "base.in", courant="1.0d0", every_1D=-20)
    wave1d.run(folder=tmp_path, norms=True, base=base)
    run = wave1d.run(folder=tmp_path, base=base, courant=0.25, nt="80")
    assert run.inputs["courant"] == 0.25 and run.inputs["every_1D"] == -20
    assert run.times[-1] == 5 and run.norms == {}  # the earlier run's norms are gone


@pytest.mark.parametrize("changes, message", [
    (dict(nx=100.0), "nx: 100.0 is not an integer"),
    (dict(nx="1e3"), 'nx: "1e3" is not an integer from -2147483648 to 2147483647'),
    (dict(nt=2**31), 'nt: "2147483648" is not an integer'),
    (dict(courant="1e999"), 'courant: "1e999" is not a real number within the range'),
    (dict(width=math.nan), "width: \"nan\" is not a real number"),
    (dict(speed=1), '"speed" is not one of the twelve values'),
    (dict(base=None), "no value for xmin, xmax, nx, courant, nt"),
    (dict(final_time=5, nt=40), "nt is set by final_time: give one of the two"),
])
def test_values_the_program_cannot_read_are_refused_before_a_run(tmp_path, changes, message):
    changes.setdefault("base", input_file(tmp_path / "base.in"))
    with pytest.raises(wave1d.InputError, match=message.replace("(", r"\(")):
        wave1d.run(folder=tmp_path / "run", **changes)
    assert not (tmp_path / "run").exists()


# dt is 0.125. A number of steps without a divisor near nt/outputs (41, a prime) keeps the final
# time as its one output step rather than writing a profile at every step.
@pytest.mark.parametrize("final_time, outputs, times", [
    (5, 4, [0, 1.25, 2.5, 3.75, 5]),
    (5.06, None, [0, 1.25, 2.5, 3.75, 5]),
    (5.1, 4, [0, 5.125]),
    (0.01, 3, [0, 0.125]),
])
def test_a_final_time_and_a_number_of_outputs(tmp_path, final_time, outputs, times):
    run = wave1d.run(folder=tmp_path, base=input_file(tmp_path / "in"), final_time=final_time,
                     outputs=outputs)
    assert list(run.times) == times and run.complete


def test_failures_and_warnings_of_the_program_reach_the_caller(tmp_path, monkeypatch):
    with pytest.raises(wave1d.RunFailed, match="exit status 2") as failure:
        wave1d.run(folder=tmp_path, base=input_file(tmp_path / "in", nx=2147483647))
    assert failure.value.status == 2 and "Integer overflow" in failure.value.stderr
    with pytest.warns(wave1d.RunWarning, match="Courant factor 2.5"):
        wave1d.run(folder=tmp_path, base=input_file(tmp_path / "in", courant=2.5))
    monkeypatch.setenv("WAVE1D", str(tmp_path / "none"))
    with pytest.raises(FileNotFoundError, match="none is not an executable file"):
        wave1d.run(base=input_file(tmp_path / "in"))


def test_every_number_form_of_a_blown_up_run_is_read(tmp_path):
    example = os.path.join(CHECKOUT, "examples", "unstable_courant.in")
    with pytest.warns(wave1d.RunWarning, match="phi is not finite at time 418"):
        run = wave1d.run(folder=tmp_path, base=example, norms=True)
    lines = [line.split() for line in (tmp_path / "phi.xl").read_text().splitlines() if line]
    read = []
    for time, phi in zip(run.times, run.phi):
        read.append(["#Time", "=", written(time, 7)])
        read += [[written(a, 9), written(b, 9)] for a, b in zip(run.x, phi)]
    assert read == lines and run.phi.max() == 6.75207537e295 and not run.phi[-1].any()
    xtl = wave1d.read_xtl(tmp_path / "phi.xtl")
    assert [list(phi) for _, _, phi in xtl] == [list(phi) for phi in run.phi[1:]]
    assert math.isnan(run.norms["energy"][-1])


def test_pip_installs_the_package_into_a_virtual_environment(tmp_path):
    if not all(map(importlib.util.find_spec, ("ensurepip", "pip", "setuptools"))):
        pytest.skip("no venv, pip or setuptools (Debian: python3-venv, python3-pip, "
                    "python3-setuptools)")
    source = os.path.join(CHECKOUT, "python")
    before = set(os.listdir(source))
    # The system's pip serves the environment: faster than a copy of its own.
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                    tmp_path / "venv"], check=True)
    bin_folder = tmp_path / "venv" / "bin"
    subprocess.run([bin_folder / "python", "-m", "pip", "install", "-q", "--no-build-isolation",
                    "--no-index", source], check=True)
    left = {name for name in set(os.listdir(source)) - before
            if name == "build" or name.endswith(".egg-info")}
    assert not left, "pip install leaves its build folders in the checkout"
    # Without WAVE1D, from a folder inside a checkout whose build tree has the program.
    os.makedirs(tmp_path / "checkout" / "python" / "wave1d")
    os.makedirs(tmp_path / "checkout" / "build")
    os.symlink(PROGRAM, tmp_path / "checkout" / "build" / "wave1d")
    os.makedirs(tmp_path / "checkout" / "out")
    script = ("import importlib.metadata, wave1d, sys; "
              "run = wave1d.run(base=sys.argv[1], norms=True); "
              "print(wave1d.__file__, wave1d.find_program(), run.norms['energy'][0], "
              "'wave1d', importlib.metadata.version('wave1d'))")
    environment = {name: value for name, value in os.environ.items() if name != "WAVE1D"}
    shown = subprocess.run([bin_folder / "python", "-c", script, input_file(tmp_path / "in")],
                           cwd=tmp_path / "checkout" / "out", capture_output=True, text=True,
                           check=True, env=environment).stdout
    assert shown.startswith(str(tmp_path / "venv" / "lib")) and "0.6266" in shown
    assert f" {os.path.realpath(PROGRAM)} " in shown
    version = subprocess.run([PROGRAM, "--version"], capture_output=True, text=True).stdout
    assert shown.endswith(version), "the package has the program's version"
    usage = subprocess.run([bin_folder / "wave1d-scan", "--help"], capture_output=True,
                           text=True, check=True).stdout
    assert usage.startswith("usage: wave1d-scan ")


def test_the_scan_and_the_notebook_of_the_tools_page_work_as_written(tmp_path):
    with open(os.path.join(CHECKOUT, "docs", "tools.md")) as page:
        text = page.read()
    scan = text.split("### On this machine\n\n```sh\n")[1].split("```")[0]
    notebook = text.split("A notebook's cells")[1].split("```python\n")[1].split("```")[0]
    for folder in ("examples", "python", "tools"):
        os.symlink(os.path.join(CHECKOUT, folder), tmp_path / folder)
    os.mkdir(tmp_path / "out")
    subprocess.run(["bash", "-c", scan], cwd=tmp_path, check=True)
    shown = subprocess.run([sys.executable, "-c", notebook], cwd=tmp_path, check=True,
                           capture_output=True, text=True, env=dict(os.environ, MPLBACKEND="Agg"))
    assert shown.stdout.split("\n")[-3:] == ["1.4 0 8.999849816700581e+31",
                                             "2.0 0 4.853961549229042e+265", ""]
    assert is_png(tmp_path / "out" / "pulse.png")
