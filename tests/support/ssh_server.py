"""An ssh server on 127.0.0.1 for a test: Debian's sshd in the foreground, as a child process,
with a host key, a user key and every other file of its own in a scratch folder, on a free
port, so that nothing of an sshd or ssh setup already on the host is used or touched.

    with ssh_server() as login:   # the GNU parallel sshlogin of this user on the server
        ...

Raises ServerUnavailable, with the reason, when the server cannot start here.
"""

import contextlib
import os
import shutil
import socket
import subprocess
import tempfile
import time

from daemons import stop


class ServerUnavailable(Exception):
    pass


@contextlib.contextmanager
def ssh_server():
    sshd = shutil.which("sshd") or ("/usr/sbin/sshd" if os.path.exists("/usr/sbin/sshd") else None)
    if sshd is None or shutil.which("ssh") is None or shutil.which("ssh-keygen") is None:
        raise ServerUnavailable("not installed: sshd, ssh or ssh-keygen "
                                "(Debian: openssh-server openssh-client)")
    with tempfile.TemporaryDirectory(prefix="wave1d-ssh-") as home:
        path = lambda name: os.path.join(home, name)  # noqa: E731
        for key in ("host_key", "user_key"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", path(key)],
                           check=True, stdin=subprocess.DEVNULL)
        shutil.copy(path("user_key.pub"), path("authorized_keys"))
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with open(path("sshd_config"), "w") as conf:
            conf.write(f"""ListenAddress 127.0.0.1
Port {port}
HostKey {path("host_key")}
PidFile {path("sshd.pid")}
AuthorizedKeysFile {path("authorized_keys")}
StrictModes no
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
""")
        # sshd wants its privilege separation folder; it holds nothing of ours.
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        client = (f"ssh -p {port} -i {path('user_key')} -o IdentitiesOnly=yes -o BatchMode=yes "
                  f"-o StrictHostKeyChecking=no -o UserKnownHostsFile={path('known_hosts')} "
                  "-o LogLevel=ERROR")
        with open(path("sshd.log"), "w") as log:
            daemon = subprocess.Popen([sshd, "-D", "-e", "-f", path("sshd_config")],
                                      stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        try:
            deadline = time.monotonic() + 20
            while subprocess.run(client.split() + ["127.0.0.1", "true"],
                                 stdin=subprocess.DEVNULL, capture_output=True).returncode != 0:
                if daemon.poll() is not None or time.monotonic() > deadline:
                    with open(path("sshd.log")) as log:
                        raise ServerUnavailable(f"sshd did not start: {log.read()[-600:]}")
                time.sleep(0.2)
            yield f"{client} 127.0.0.1"
        finally:
            stop(daemon)
