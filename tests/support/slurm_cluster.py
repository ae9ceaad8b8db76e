"""A Slurm cluster of this host alone, started for a test and stopped after it: munged,
slurmctld and slurmd of Debian's packages, each a child process in the foreground, with every
file (key, sockets, spool, state, logs) in a scratch folder and ports of their own, so that
nothing of a Slurm or MUNGE already on the host is touched.

    with slurm_cluster() as environment:   # SLURM_CONF and the rest, for sbatch and squeue
        subprocess.run(["sbatch", ...], env=environment)

Raises ClusterUnavailable, with the reason, when the cluster cannot start here.
"""

import contextlib
import os
import shutil
import socket
import subprocess
import tempfile
import time

from daemons import stop


class ClusterUnavailable(Exception):
    pass


def _free_port():
    with socket.socket() as probe:
        probe.bind(("", 0))
        return probe.getsockname()[1]


@contextlib.contextmanager
def slurm_cluster():
    missing = [p for p in ("munged", "slurmctld", "slurmd", "sbatch", "sinfo")
               if shutil.which(p) is None]
    if missing:
        raise ClusterUnavailable(f"not installed: {', '.join(missing)} "
                                 "(Debian: munge slurmctld slurmd slurm-client)")
    if os.geteuid() != 0:
        raise ClusterUnavailable("the daemons need root")
    node = subprocess.run(["slurmd", "-C"], capture_output=True, text=True).stdout.split("\n")[0]
    if not node.startswith("NodeName="):
        raise ClusterUnavailable("slurmd -C does not describe this host")
    with tempfile.TemporaryDirectory(prefix="wave1d-slurm-") as home:
        path = lambda name: os.path.join(home, name)  # noqa: E731
        with open(path("munge.key"), "wb") as key:
            key.write(os.urandom(1024))
        os.chmod(path("munge.key"), 0o400)
        host = socket.gethostname().split(".")[0]
        with open(path("slurm.conf"), "w") as conf:
            conf.write(f"""ClusterName=wave1dtest
SlurmctldHost={host}
AuthInfo=socket={path("munge.socket")}
SlurmctldPort={_free_port()}
SlurmdPort={_free_port()}
StateSaveLocation={home}
SlurmdSpoolDir={home}
SlurmctldPidFile={path("slurmctld.pid")}
SlurmdPidFile={path("slurmd.pid")}
SlurmctldLogFile={path("slurmctld.log")}
SlurmdLogFile={path("slurmd.log")}
ProctrackType=proctrack/linuxproc
SelectType=select/cons_tres
ReturnToService=2
{node} State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES MaxTime=INFINITE State=UP
""")
        environment = dict(os.environ, SLURM_CONF=path("slurm.conf"))
        munged = ["munged", "-F", "--force", "--socket=" + path("munge.socket"),
                  "--key-file=" + path("munge.key"), "--log-file=" + path("munged.log"),
                  "--pid-file=" + path("munged.pid"), "--seed-file=" + path("munged.seed")]
        daemons = []
        try:
            for command in (munged, ["slurmctld", "-D", "-i"], ["slurmd", "-D"]):
                with open(path(command[0] + ".log"), "a") as log:
                    daemons.append(subprocess.Popen(command, env=environment, cwd=home,
                                                    stdin=subprocess.DEVNULL, stdout=log,
                                                    stderr=log))
                time.sleep(0.5)
            deadline, state = time.monotonic() + 30, ""
            while state not in ("idle", "mixed", "allocated"):
                ended = [d.args[0] for d in daemons if d.poll() is not None]
                if ended or time.monotonic() > deadline:
                    logs = "".join(open(path(d.args[0] + ".log")).read()[-600:] for d in daemons)
                    raise ClusterUnavailable(f"the cluster did not start ({', '.join(ended)} "
                                             f"ended; node state {state!r}):\n{logs}")
                time.sleep(0.3)
                state = subprocess.run(["sinfo", "-h", "-o", "%T"], env=environment,
                                       capture_output=True, text=True).stdout.strip()
            yield environment
        finally:
            for daemon in reversed(daemons):
                stop(daemon)
