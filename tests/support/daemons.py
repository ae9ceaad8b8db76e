"""Shared by the tests that start servers of their own (sshd, Slurm's daemons)."""

import subprocess


def stop(daemon):
    """Stops a daemon the test started, by its process id: SIGTERM, then SIGKILL after 20 s."""
    daemon.terminate()
    try:
        daemon.wait(timeout=20)
    except subprocess.TimeoutExpired:
        daemon.kill()
        daemon.wait()
