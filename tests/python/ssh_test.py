"""tools/scan --sshloginfile through a real sshd on 127.0.0.1 that the test starts, into a folder
whose name a shell would mangle: each run the bytes of a direct run. Skipped, with the reason,
where the server cannot start."""

import shutil

import pytest

from ssh_server import ServerUnavailable, ssh_server
from wave1d_testing import ODD_NAME, check_like_direct_runs, check_nothing_run_by_a_shell, \
    input_file, tool

if shutil.which("parallel") is None:
    pytest.skip("GNU parallel is not installed (Debian: parallel)", allow_module_level=True)


@pytest.fixture(scope="module")
def login():
    try:
        with ssh_server() as sshlogin:
            yield sshlogin
    except ServerUnavailable as reason:
        pytest.skip(f"no ssh server: {reason}")


def test_a_scan_over_ssh_into_an_odd_folder(tmp_path, login):
    (tmp_path / "machines").write_text(f"2/{login}\n")
    (tmp_path / "scans").mkdir()
    scan = tmp_path / "scans" / ODD_NAME
    done = tool("scan", "-o", scan, "--sshloginfile", tmp_path / "machines",
                input_file(tmp_path / "base.in"), "courant=0.25,0.5", "nx=40,80",
                cwd=tmp_path / "scans")
    assert done.returncode == 0, done.stderr
    check_like_direct_runs(tmp_path, scan, {},
                           [dict(courant=c, nx=n) for c in ("0.25", "0.5") for n in ("40", "80")])
    check_nothing_run_by_a_shell(tmp_path / "scans")
