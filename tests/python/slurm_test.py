"""tools/scan --slurm on a real single-node Slurm cluster started on this host for the test:
submitted without waiting into a folder whose name a shell would mangle, gathered by the same
command, each run the bytes of a direct run, and a local scan of the folder refused while the
array waits. Skipped, with the reason, where the cluster cannot start."""

import subprocess

import pytest

from slurm_cluster import ClusterUnavailable, slurm_cluster
from wave1d_testing import ODD_NAME, check_like_direct_runs, check_nothing_run_by_a_shell, \
    input_file, tool


@pytest.fixture(scope="module")
def cluster():
    try:
        with slurm_cluster() as environment:
            yield environment
    except ClusterUnavailable as reason:
        pytest.skip(f"no Slurm cluster: {reason}")


def test_a_job_array_submitted_then_gathered(tmp_path, cluster):
    base = input_file(tmp_path / "base.in")
    (tmp_path / "scans").mkdir()
    scan = tmp_path / "scans" / ODD_NAME
    arguments = ["--slurm", "-o", scan, "--sbatch=--job-name=wave1d-test --time=5", base,
                 "courant=0.25,0.5", "nx=40,80"]
    submitted = tool("scan", "--no-wait", *arguments, env=cluster)
    assert submitted.returncode == 0 and "an array of 4 runs" in submitted.stderr
    job = submitted.stderr.split("submitted Slurm job ")[1].split(":")[0]
    name = subprocess.run(["squeue", "-h", "-t", "all", "-j", job, "-o", "%j %l"], env=cluster,
                          capture_output=True, text=True).stdout.split("\n")[0]
    assert name == "wave1d-test 5:00"
    gathered = tool("scan", *arguments, env=cluster)
    assert gathered.returncode == 0 and f"Slurm job {job} of this scan" in gathered.stderr
    check_like_direct_runs(tmp_path, scan, {},
                           [dict(courant=c, nx=n) for c in ("0.25", "0.5") for n in ("40", "80")])
    check_nothing_run_by_a_shell(tmp_path / "scans")


def test_a_pending_array_keeps_a_local_scan_out(tmp_path, cluster):
    arguments = ["-o", tmp_path / "scan", input_file(tmp_path / "base.in"), "nx=40,80"]
    submitted = tool("scan", "--slurm", "--no-wait", "--sbatch=--begin=now+600", *arguments,
                     env=cluster)
    assert submitted.returncode == 0, submitted.stderr
    job = submitted.stderr.split("submitted Slurm job ")[1].split(":")[0]
    try:
        local = tool("scan", *arguments, env=cluster)
        assert local.returncode == 2
        assert f"Slurm job {job} of the scan in {tmp_path / 'scan'} is pending" in local.stderr
    finally:
        subprocess.run(["scancel", job], env=cluster, check=True)
