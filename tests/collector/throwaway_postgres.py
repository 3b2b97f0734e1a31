"""A throwaway PostgreSQL 15 for the collector's scripts: initdb and postgres
in a folder of the caller's, on a unix socket in it only, run as "nobody"
when the caller is root (PostgreSQL refuses root)."""
import os
import pwd
import signal
import subprocess
import time

BIN = "/usr/lib/postgresql/15/bin/"


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
