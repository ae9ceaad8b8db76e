"""tools/scan through the real GNU parallel: every run folder holds the bytes of a direct run
with the same values, the summary holds the last norms of each run, a stopped scan and a scan
with a failing run are completed by running them again, and a bad scan runs nothing."""

import glob
import os
import shutil
import signal
import subprocess
import sys
import time

import pytest

import wave1d
from wave1d_testing import ODD_NAME, PROGRAM, TOOLS, check_like_direct_runs, \
    check_nothing_run_by_a_shell, input_file, is_png, tool

if shutil.which("parallel") is None:
    pytest.skip("GNU parallel is not installed (Debian: parallel)", allow_module_level=True)


def test_a_scan_gives_the_bytes_of_direct_runs_and_a_summary(tmp_path):
    base = input_file(tmp_path / "base.in", nx=120, every_1D=20)
    done = tool("scan", "-o", tmp_path / "scan", "-j", "2", base, "courant=0.25,0.5,1.0d0",
                "shifttype=0,1")
    assert done.returncode == 0, done.stderr
    assert "6 of 6 runs ended with status 0" in done.stderr
    runs = [dict(courant=c, shifttype=s) for c in ("0.25", "0.5", "1.0d0") for s in "01"]
    check_like_direct_runs(tmp_path, tmp_path / "scan", dict(nx=120, every_1D=20), runs)
    assert is_png(tmp_path / "scan" / "summary.png")
    folders = glob.glob(str(tmp_path / "scan" / "*"))  # as the shell's DIR/* names them
    if os.path.exists("/usr/share/javascript/dygraphs/dygraph.min.js"):
        view = tool("view", "-o", tmp_path / "view.html", *folders)
        assert view.returncode == 0, view.stderr
        assert "courant=1, shifttype=1" in (tmp_path / "view.html").read_text()


def test_a_stopped_scan_is_completed_by_running_it_again(tmp_path):
    base = input_file(tmp_path / "base.in", nx=4000, nt=6000, every_1D=1000)
    command = [sys.executable, os.path.join(TOOLS, "scan"), "-o", tmp_path / "scan", "-j", "1",
               base, "center=-1,-0.5,0,0.5,1"]
    # The program, taking half a second to end after a signal, as a large run writing out its
    # last step on a busy machine may.
    slow = tmp_path / "slow-wave1d"
    slow.write_text(f'#!/bin/sh\ntrap \'trap "" TERM; sleep 0.5; exit 143\' TERM\n'
                    f'"{PROGRAM}" "$@" &\nwait $!\n')
    slow.chmod(0o755)
    scan = subprocess.Popen(command, env=dict(os.environ, WAVE1D=slow),
                            stderr=subprocess.PIPE, text=True)
    started, ended = set(), set()
    while not 2 <= len(ended) < len(started) and scan.poll() is None:
        time.sleep(0.02)
        started, ended = ({path.parent for path in (tmp_path / "scan").glob(pattern)}
                          for pattern in ("*/errors.txt", "*/ended.tsv"))
    scan.send_signal(signal.SIGTERM)
    assert scan.wait(timeout=60) == 128 + signal.SIGTERM, scan.stderr.read()
    # The run under way has ended, with its status recorded, before the scan returns.
    assert {path.parent for path in (tmp_path / "scan").glob("*/ended.tsv")} == started
    kept = {path: path.stat().st_mtime_ns for path in (tmp_path / "scan").glob("*/ended.tsv")
            if path.read_text().split()[2] == "0"}
    assert 2 <= len(kept) < 5
    again = subprocess.run(command, capture_output=True, text=True)
    assert again.returncode == 0, again.stderr
    assert f"{len(kept)} ended with status 0 before, {5 - len(kept)} to run" in again.stderr
    assert {path: path.stat().st_mtime_ns for path in kept} == kept
    check_like_direct_runs(tmp_path, tmp_path / "scan", dict(nx=4000, nt=6000, every_1D=1000),
                           [dict(center=c) for c in ("-1", "-0.5", "0", "0.5", "1")])


def test_a_failing_run_stops_no_other_and_is_the_one_run_again(tmp_path):
    base = input_file(tmp_path / "base.in")
    (tmp_path / "machines").write_text("2/:\n")  # this machine, by GNU parallel's remote way
    for attempt, machines in enumerate([["--sshloginfile", tmp_path / "machines"], []]):
        done = tool("scan", "-o", tmp_path / "scan", *machines, base, "nx=80,2147483647,40")
        assert done.returncode == 1
        assert "nx=2147483647: exit status 2: Integer overflow" in done.stderr
        assert f"{2 * attempt} ended with status 0 before, {3 - 2 * attempt} to run" in done.stderr
        statuses = [line.split("\t")[2] for line in
                    (tmp_path / "scan" / "summary.tsv").read_text().splitlines()[1:]]
        assert statuses == ["0", "2", "0"]


@pytest.mark.parametrize("arguments, message", [
    (["BASE", "speed=1,2"], '"speed" is not one of the twelve values'),
    (["BASE", "courant="], "courant= lists no value"),
    (["BASE", "courant=0.5,,1"], "courant=0.5,,1: an empty value"),
    (["BASE", "nx=80,1.5"], 'nx=80,1.5: nx: "1.5" is not an integer from -2147483648 to 2147483647'),
    (["BASE", "nt=2147483648"], 'nt: "2147483648" is not an integer'),
    (["BASE", "courant=1e999"], 'courant: "1e999" is not a real number within the range of a double'),
    (["BASE", "courant=1,1.0"], "courant=1,1.0: 1.0 is 1 again"),
    (["BASE", "nx=80", "nx=40"], "nx is given twice"),
    (["BASE"], "no values to scan"),
    (["SHORT", "nx=80"], "short.in holds only 11 of the twelve values; shifttype is missing"),
    (["-j", "0", "BASE", "nx=80"], 'argument -j: takes a number of 1 or more, not "0"'),
    (["--no-wait", "BASE", "nx=80"], "--no-wait and --sbatch go with --slurm"),
    (["--plot", "energy", "BASE", "nx=80"], "--plot takes exit_status, warnings, seconds or a"),
    (["BASE"] + [n + "=" + ",".join(map(str, range(1, 101))) for n in
                 ("xmin", "xmax", "amplitude", "width", "center")],
     "10000000000 combinations are more runs than the bound of 100000; --max-runs 10000000000"),
    (["BASE", "amplitude=1" + "0" * 300], "bytes long, more than the 255 of a folder name"),
    (["-o", "", "BASE", "nx=80"], "-o names no folder"),
    (["--final-time", "5", "BASE", "nt=40,80"], "--final-time sets nt: scan one or the other"),
])
def test_a_bad_scan_runs_nothing(tmp_path, arguments, message):
    files = dict(BASE=input_file(tmp_path / "base.in"), SHORT=input_file(tmp_path / "short.in"))
    with open(files["SHORT"], "r+") as file:
        file.truncate(len(file.read()) - 2)  # no shifttype
    done = tool("scan", "-o", tmp_path / "scan", *[files.get(a, a) for a in arguments])
    assert done.returncode == 2 and message in done.stderr, done.stderr
    assert not (tmp_path / "scan").exists()


def test_a_scan_killed_and_run_again_at_once_loses_nothing(tmp_path):
    base = input_file(tmp_path / "base.in", nx=4000, nt=6000, every_1D=1000)
    (tmp_path / "scans").mkdir()
    scan = tmp_path / "scans" / ODD_NAME
    command = [sys.executable, os.path.join(TOOLS, "scan"), "-o", scan, "-j", "2", base,
               "center=-1,-0.5,0,0.5,1,1.5"]
    killed = subprocess.Popen(command, stderr=subprocess.DEVNULL, cwd=tmp_path / "scans")
    started, ended = set(), set()
    while not 1 <= len(ended) < len(started) and killed.poll() is None:
        time.sleep(0.02)
        started, ended = ({path.parent for path in scan.glob(pattern)}
                          for pattern in ("*/errors.txt", "*/ended.tsv"))
    killed.kill()
    assert killed.wait() == -signal.SIGKILL
    again = subprocess.run(command, capture_output=True, text=True, cwd=tmp_path / "scans")
    assert again.returncode == 0, again.stderr
    check_like_direct_runs(tmp_path, scan, dict(nx=4000, nt=6000, every_1D=1000),
                           [dict(center=c) for c in ("-1", "-0.5", "0", "0.5", "1", "1.5")])
    check_nothing_run_by_a_shell(tmp_path / "scans")


def test_an_early_interrupt_stops_a_large_scan_at_once(tmp_path):
    amplitudes = "amplitude=" + ",".join(map(str, range(1, 3001)))
    scan = subprocess.Popen([sys.executable, os.path.join(TOOLS, "scan"), "-o", tmp_path / "scan",
                             input_file(tmp_path / "base.in"), amplitudes],
                            stderr=subprocess.PIPE, text=True)
    while not any((tmp_path / "scan").glob("amplitude=*")) and scan.poll() is None:
        time.sleep(0.002)
    scan.send_signal(signal.SIGINT)
    interrupted = time.monotonic()
    assert scan.wait(timeout=60) == 128 + signal.SIGINT, scan.stderr.read()
    assert time.monotonic() - interrupted < 5  # a second or two, on a busy machine more
    assert len(list((tmp_path / "scan").glob("*/ended.tsv"))) < 3000


def test_a_full_disk_is_one_line_and_keeps_the_summary(tmp_path):
    disk = tmp_path / "disk"
    disk.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", disk],
                      capture_output=True).returncode != 0:
        pytest.skip("cannot mount a small tmpfs here (it needs root)")
    try:
        arguments = ["-o", disk / "scan", input_file(tmp_path / "base.in"), "courant=0.25,0.5"]
        assert tool("scan", *arguments).returncode == 0
        summary = (disk / "scan" / "summary.tsv").read_bytes()
        with open(disk / "filler", "wb", buffering=0) as filler, pytest.raises(OSError):
            while True:
                filler.write(bytes(4096))
        full = tool("scan", *arguments)
        assert full.returncode == 1 and len(full.stderr.splitlines()) == 1, full.stderr
        assert f"cannot write {disk / 'scan'}/" in full.stderr
        assert full.stderr.endswith(": No space left on device\n")
        assert (disk / "scan" / "summary.tsv").read_bytes() == summary
    finally:
        subprocess.run(["umount", disk], check=True)


def test_a_courant_scan_at_one_final_time_with_its_warnings(tmp_path):
    done = tool("scan", "-o", tmp_path / "scan", "--final-time", "5", "--outputs", "4",
                input_file(tmp_path / "base.in"), "courant=0.25,0.5,2.5", "shifttype=1")
    assert done.returncode == 0, done.stderr
    assert "3 of 3 runs ended with status 0; 1 with warnings: courant=2.5,shifttype=1 " \
           "(Courant factor)" in done.stderr
    table = wave1d.read_scan(tmp_path / "scan")
    assert list(table.courant) == [0.25, 0.5, 2.5] and list(table.shifttype) == [1, 1, 1]
    assert list(table.warnings) == [0, 0, 1] and list(table.exit_status) == [0, 0, 0]
    for row in table.itertuples():
        run = wave1d.read_run(row.folder)
        assert abs(row.final_time - 5) <= row.courant * 0.25 / 2
        assert list(run.times) == [row.final_time * k / 4 for k in range(5)]
        assert run.norms["energy"][-1] == row.final_energy
