"""Run the real account service `tavrin-cloud` (and, for its PostgreSQL mode, a real
PostgreSQL server from Debian's packages in a temporary folder).

    svc = CloudService.start(tmp_path / "data")                 # SQLite in that folder
    svc = CloudService.start(tmp_path / "d", database=pg.new_database())
    r = svc.request("POST", "/v1/register", {"username": "a", "password": "12345678"})
    assert r.status == 201 and len(r.json()["token"]) == 43
    svc.stop()                                                  # SIGTERM, waits for the end
    svc.kill()                                                  # SIGKILL

Pieces:
- CLOUD: the executable (TAVRIN_CLOUD, else TAVRIN_BUILD/tavrin-cloud, else build/linux).
- FAST_HASH: Argon2id arguments that make tests quick (production keeps the defaults).
- CloudService.start(data, database=None, args=(), tls=None): waits for the start line and
  reads the address from it; every later stdout line (the access log) is kept in .lines.
- svc.request(method, path, body=None, token=None, headers=None) -> Reply(status, headers,
  body, json()); body may be a dict (sent as JSON), str or bytes.
- Postgres.start(folder) / pg.new_database() -> "postgresql://..." / pg.stop(). As root the
  server runs as the `postgres` user (PostgreSQL refuses to run as root). pg.pause() /
  pg.unpause() freeze and thaw its processes (a database that stops answering).
"""
from __future__ import annotations

import http.client
import json
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import threading
import time
from pathlib import Path
from typing import NamedTuple

ROOT = Path(__file__).resolve().parents[2]
CLOUD = Path(os.environ.get("TAVRIN_CLOUD") or
             Path(os.environ.get("TAVRIN_BUILD", ROOT / "build" / "linux")) / "tavrin-cloud")
FAST_HASH = ("--argon2-ops", "1", "--argon2-mem-kib", "64")
START_TIMEOUT = 60.0
PG_BIN = Path("/usr/lib/postgresql/15/bin")


def wait_for(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


class Reply(NamedTuple):
    status: int
    headers: dict  # lower-case names
    body: bytes

    def json(self):
        return json.loads(self.body.decode("utf-8"))


class CloudService:
    def __init__(self, proc, url, data, database):
        self.proc = proc
        self.url = url
        self.data = data
        self.database = database
        m = re.match(r"(https?)://(\[[^\]]+\]|[^:/]+):(\d+)", url)
        self.scheme, self.host, self.port = m.group(1), m.group(2).strip("[]"), int(m.group(3))
        self.lines: list[str] = []
        self.ssl_context = None

    @classmethod
    def start(cls, data, database=None, args=(), listen="127.0.0.1:0", tls=None, fast_hash=True):
        cmd = [str(CLOUD), "--listen", listen, "--data", str(data)]
        if database:
            cmd += ["--database", database]
        if tls:
            cmd += ["--tls-cert", str(tls[0]), "--tls-key", str(tls[1])]
        cmd += list(FAST_HASH if fast_hash else ()) + list(args)
        proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                encoding="utf-8")
        first = []
        reader = threading.Thread(target=lambda: first.append(proc.stdout.readline()), daemon=True)
        reader.start()
        reader.join(START_TIMEOUT)
        line = first[0] if first else ""
        m = re.search(r"https?://\S+", line)
        if not m:
            proc.kill()
            proc.wait()
            raise AssertionError(f"tavrin-cloud did not start: {line!r} {proc.stderr.read()!r}")
        svc = cls(proc, m.group(0), data, database)
        if tls:
            svc.ssl_context = ssl.create_default_context(cafile=str(tls[0]))
            svc.ssl_context.check_hostname = False
        threading.Thread(target=svc._collect, daemon=True).start()
        return svc

    def _collect(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))

    def connection(self, timeout=60):
        if self.scheme == "https":
            return http.client.HTTPSConnection(self.host, self.port, timeout=timeout, context=self.ssl_context)
        return http.client.HTTPConnection(self.host, self.port, timeout=timeout)

    def request(self, method, path, body=None, token=None, headers=None, conn=None) -> Reply:
        if isinstance(body, (dict, list)):
            body = json.dumps(body, ensure_ascii=False)
        if isinstance(body, str):
            body = body.encode("utf-8")
        h = {"Content-Type": "application/json"}
        if token is not None:
            h["Authorization"] = f"Bearer {token}"
        h.update(headers or {})
        own = conn is None
        conn = conn or self.connection()
        try:
            conn.request(method, path, body=body, headers=h)
            r = conn.getresponse()
            data = r.read()
            return Reply(r.status, {k.lower(): v for k, v in r.getheaders()}, data)
        finally:
            if own:
                conn.close()

    # shortcuts for the account routes
    def register(self, username, password="correct horse"):
        r = self.request("POST", "/v1/register", {"username": username, "password": password})
        assert r.status == 201, (r.status, r.body)
        return r.json()

    def login(self, username, password="correct horse"):
        return self.request("POST", "/v1/login", {"username": username, "password": password})

    def running(self):
        return self.proc.poll() is None

    def stop(self, timeout=60):
        if self.running():
            self.proc.send_signal(signal.SIGTERM)
        code = self.proc.wait(timeout)
        wait_for(lambda: self.lines and "已停止" in self.lines[-1] or code != 0, 10, "the closing line")
        return code

    def kill(self):
        if self.running():
            self.proc.kill()
        return self.proc.wait(60)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Postgres:
    """A throw-away PostgreSQL cluster listening on 127.0.0.1 with trust authentication."""

    def __init__(self, folder: Path, port: int, as_user):
        self.folder = folder
        self.port = port
        self.as_user = as_user
        self.count = 0

    @classmethod
    def available(cls):
        return (PG_BIN / "initdb").exists() and (PG_BIN / "pg_ctl").exists()

    @staticmethod
    def _run(as_user, *cmd, check=True):
        prefix = ["runuser", "-u", as_user, "--"] if as_user else []
        return subprocess.run(prefix + [str(c) for c in cmd], check=check, capture_output=True, text=True,
                              timeout=300)

    @classmethod
    def start(cls):
        as_user = "postgres" if os.geteuid() == 0 else None
        # In /tmp itself, so an unprivileged server user can reach it whoever runs the tests.
        folder = Path(tempfile.mkdtemp(prefix="tavrin-pg-"))
        if as_user:
            shutil.chown(folder, as_user)
        port = free_port()
        cls._run(as_user, PG_BIN / "initdb", "-D", folder / "data", "-U", "tavrin", "-A", "trust",
                 "-E", "UTF8", "--locale", "C.UTF-8", "--no-sync")
        pg = cls(folder, port, as_user)
        pg.resume()
        return pg

    def new_database(self):
        self.count += 1
        name = f"t{self.count}"
        self._run(self.as_user, PG_BIN / "createdb", "-h", "127.0.0.1", "-p", self.port, "-U", "tavrin", name)
        return f"postgresql://tavrin@127.0.0.1:{self.port}/{name}"

    def psql(self, url, sql):
        return self._run(self.as_user, PG_BIN / "psql", "-X", "-A", "-t", "-d", url, "-c", sql).stdout

    def halt(self):
        """Stops the server, keeping its data (start it again with resume)."""
        self._run(self.as_user, PG_BIN / "pg_ctl", "-D", self.folder / "data", "-m", "fast", "-w", "stop",
                  check=False)

    def resume(self):
        self._run(self.as_user, PG_BIN / "pg_ctl", "-D", self.folder / "data", "-l", self.folder / "server.log",
                  "-w", "-t", "120", "start", "-o",
                  f"-p {self.port} -k {self.folder} -c listen_addresses=127.0.0.1 -c max_connections=200")

    def _processes(self):
        pid = int((self.folder / "data" / "postmaster.pid").read_text().split()[0])
        pids = [pid]
        for entry in Path("/proc").iterdir():
            if entry.name.isdigit():
                try:
                    stat = (entry / "stat").read_text()
                except OSError:
                    continue
                if int(stat.rsplit(")", 1)[1].split()[1]) == pid:
                    pids.append(int(entry.name))
        return pids

    def pause(self):
        """Freezes every process of the server (a stalled database: connections stay open,
        nothing answers) until unpause()."""
        for pid in reversed(self._processes()):
            self._signal(pid, signal.SIGSTOP)

    def unpause(self):
        for pid in self._processes():
            self._signal(pid, signal.SIGCONT)

    @staticmethod
    def _signal(pid, sig):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:  # a backend that ended meanwhile
            pass

    def stop(self):
        self.halt()
        shutil.rmtree(self.folder, ignore_errors=True)
