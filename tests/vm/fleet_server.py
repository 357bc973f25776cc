"""A PostgreSQL server of the test's own on the host, for the boot image's push to a fleet
database: made in a temporary folder, listening on 127.0.0.1 on a free port (the guest of
QEMU's user network reaches it as 10.0.2.2), trusting every connection from there, stopped
and removed afterwards whether the test passed or not. The server refuses to run as root; run
as root (as CI does), it runs as "nobody", in folders that user owns."""

import glob
import os
import pwd
import shutil
import socket
import subprocess
import tempfile


def server_programs():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/pg_ctl"))
    return os.path.dirname(found[-1]) if found else None


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    USER = "fleet"

    def __init__(self):
        self.bin = server_programs()
        if self.bin is None:
            raise RuntimeError("PostgreSQL's server programs were not found under "
                               "/usr/lib/postgresql/*/bin: install the postgresql package")
        self.folder = tempfile.mkdtemp(prefix="purgelet-vmpg-")
        self.data = os.path.join(self.folder, "data")
        self.port = free_port()
        self.as_user = []
        self.started = False
        if os.geteuid() == 0:
            nobody = pwd.getpwnam("nobody")
            os.chown(self.folder, nobody.pw_uid, nobody.pw_gid)
            self.as_user = ["runuser", "-u", "nobody", "--"]

    def _run(self, args):
        return subprocess.run(self.as_user + args, capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=60)

    def start(self):
        made = self._run([os.path.join(self.bin, "initdb"), "-D", self.data, "-U", self.USER,
                          "--auth=trust", "-E", "UTF8", "--no-locale", "--no-sync"])
        if made.returncode != 0:
            raise RuntimeError("initdb failed: " + made.stderr)
        log = os.path.join(self.folder, "server.log")
        started = self._run([
            os.path.join(self.bin, "pg_ctl"), "-D", self.data, "-l", log, "-w", "-t", "30",
            "-o", "-c listen_addresses=127.0.0.1 -c port=%d -c unix_socket_directories='%s' "
            "-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
            % (self.port, self.folder), "start"])
        if started.returncode != 0:
            server_log = open(log).read() if os.path.exists(log) else ""
            raise RuntimeError("the server did not start: " + started.stderr + server_log)
        self.started = True

    def conninfo(self, host="127.0.0.1"):
        return "host=%s port=%d user=%s dbname=postgres" % (host, self.port, self.USER)

    def stop(self):
        if self.started:
            self._run([os.path.join(self.bin, "pg_ctl"), "-D", self.data, "-m", "immediate",
                       "-w", "stop"])
            self.started = False
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
