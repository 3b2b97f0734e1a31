"""What the collector's scripts share: their count of checks, the loopback
ports, waiting for a condition, and a throwaway PostgreSQL 15 (initdb and
postgres in a folder of the caller's, on a unix socket in it only, run as
"nobody" when the caller is root: PostgreSQL refuses root)."""
import os
import pwd
import signal
import socket
import subprocess
import sys
import time

BIN = "/usr/lib/postgresql/15/bin/"


class Checks:
    """Counts what was checked; a failure said with what was expected."""

    def __init__(self, name):
        self.name, self.passed, self.failed = name, 0, 0

    def check(self, what, expected, got):
        if expected == got:
            self.passed += 1
        else:
            self.failed += 1
            print(f"{self.name}: FAILED {what}\n  expected: {expected!r}\n  got:      {got!r}")

    def end(self):
        """The one line of the count, and the exit status."""
        print(f"{self.name}: {self.passed} passed, {self.failed} failed")
        sys.exit(1 if self.failed else 0)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port):
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), 1).close()
            return True
        except OSError:
            time.sleep(0.1)
    return False


def until(condition, seconds, pause=0.05):
    """Whether condition() came true within seconds; an exception counts as not yet."""
    end = time.time() + seconds
    while time.time() < end:
        try:
            if condition():
                return True
        except Exception:
            pass
        time.sleep(pause)
    return False


class Server:
    def __init__(self, work):
        """Starts it in work/pg, its log in work/postgres.log; raises when it
        does not answer within 30 s."""
        folder = os.path.join(work, "pg")
        os.mkdir(folder)
        os.chmod(work, 0o755)
        user = {"cwd": folder}
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.chown(folder, nobody.pw_uid, nobody.pw_gid)
            user.update(user=nobody.pw_uid, group=nobody.pw_gid, extra_groups=[])
        subprocess.run([BIN + "initdb", "-D", folder + "/data", "-U", "postgres", "--auth=trust",
                        "-E", "UTF8", "--locale=C", "--no-sync"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, check=True, **user)
        self.process = subprocess.Popen(
            [BIN + "postgres", "-D", folder + "/data", "-k", folder, "-c", "listen_addresses="],
            stdout=open(os.path.join(work, "postgres.log"), "w"), stderr=subprocess.STDOUT,
            **user)
        self.folder = folder
        self.url = f"postgresql://postgres@/postgres?host={folder}"
        for _ in range(300):
            if subprocess.run([BIN + "pg_isready", "-q", "-h", folder]).returncode == 0:
                return
            time.sleep(0.1)
        self.stop()
        raise RuntimeError("PostgreSQL did not start (see postgres.log)")

    def stop(self):
        """At once, its own processes with it."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            self.process.wait()
