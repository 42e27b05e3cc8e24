"""Drive the real program in a temporary copy of its folder.

Use from any integration test (judge, bank import, bundled bank, page tests):

    def test_status(tavrin):                       # a started program, stopped in order afterwards
        r = tavrin.get("/api/status")              # token and Host are added for you
        assert r.status == 200 and r.json()["version"] == "1.6.2"

    def test_saves(start_tavrin, tmp_path):
        app = start_tavrin(bank=my_bank_dict)      # bank: dict, str or bytes -> data/bank.json
        r = app.post("/api/bank", json.dumps(new_bank), {"X-Extra": "1"})
        assert r.json() == {"ok": True}

    def test_duty(app_folder):
        folder = app_folder()                      # a fresh copy, not started
        assert run_duty(folder, "--stop").returncode == 0

Pieces:
- copy_app(dest, bank=None, web=None, toolchain=False): copies TAVRIN_APP into dest; web maps
  file names (e.g. "index.html", "fonts/x.woff2") to contents written into dest/web (None removes
  the file); the Windows folder's toolchain/ is left out unless toolchain=True.
- Tavrin.start(folder, *args): starts the program with --no-browser (plus args), waits for
  data/session.txt, and reads url, host, port and token from it. On the windows lane
  (TAVRIN_LANE=windows) Tavrin.exe runs through scripts/wine-run.sh.
- app.request(method, path, body=b"", headers=None, auth=True) -> Response(status, headers, body);
  get/post are shortcuts. Headers you pass replace the defaults of the same name
  (Host, Authorization); pass auth=False to send no token, or a header value None to omit it.
- app.raw(bytes) sends exactly those bytes and returns what came back (b"" when the
  server closed without an answer).
- app.stop(): POST /api/shutdown, wait for the end, kill only as a last resort; returns the
  exit code. app.log() is the text of today's daily log(s).
- run_duty(folder, *args, env=None): runs a command-line duty (--stop, --import-bank ...) to its
  end; env: variables to set (a value None removes the variable) for this run only.
- Tavrin.start(folder, *args, env=None) takes the same env.
- wait_for(condition, timeout=None, what=""): polls condition() until it gives a true value and
  returns it; AssertionError naming what after the deadline. wait_log(folder, text) waits until
  the daily log holds text and returns the log; app.wait_log(text) for a started program.
  Deadlines are generous (Wine on two loaded cores is slow): wait for conditions, never sleep.
- The program runs without DISPLAY/WAYLAND_DISPLAY unless start/run_duty get display=True
  (the desktop window tests under xvfb-run).
"""
from __future__ import annotations

import json
import os
import shutil
import signal
import socket
import subprocess
import time
from pathlib import Path
from typing import NamedTuple

ROOT = Path(__file__).resolve().parents[2]
LANE = os.environ.get("TAVRIN_LANE", "linux")
APP = Path(os.environ.get("TAVRIN_APP", ROOT / "build" / "linux" / "app"))
EXE_NAME = Path(os.environ["TAVRIN_EXE"]).name if os.environ.get("TAVRIN_EXE") else (
    "Tavrin.exe" if LANE == "windows" else "tavrin")
WINDOWS = LANE == "windows"
# Wine starts slowly, above all the first time in a new prefix; and every lane may share two
# cores with other heavy jobs. Deadlines only bound a wait for a condition: generous costs nothing.
START_TIMEOUT = 240.0 if WINDOWS else 60.0
REQUEST_TIMEOUT = 180.0 if WINDOWS else 60.0


class Response(NamedTuple):
    status: int
    headers: dict  # lower-case names
    body: bytes

    def json(self):
        return json.loads(self.body.decode("utf-8"))

    @property
    def text(self) -> str:
        return self.body.decode("utf-8")


def _bytes(data) -> bytes:
    if data is None:
        return b""
    if isinstance(data, (dict, list)):
        return json.dumps(data, ensure_ascii=False).encode("utf-8")
    if isinstance(data, str):
        return data.encode("utf-8")
    return bytes(data)


def copy_app(dest, bank=None, web=None, toolchain=False) -> Path:
    """A fresh program folder at dest (created), optionally with a given bank and web files.
    The Windows folder's own GCC (toolchain/, some hundred MB) comes along only with
    toolchain=True, as hard links where the file system allows."""
    dest = Path(dest)
    shutil.copytree(APP, dest, symlinks=True, dirs_exist_ok=True,
                    ignore=lambda folder, names: ["toolchain"] if Path(folder) == APP else [])
    if toolchain:
        own = APP / "toolchain"
        if not (own / "bin").is_dir():
            raise AssertionError(f"{own} is missing: the windows build puts the toolchain there")

        def link(src, dst):
            try:
                os.link(src, dst)
            except OSError:
                shutil.copy2(src, dst)
        shutil.copytree(own, dest / "toolchain", symlinks=True, copy_function=link)
    for leftover in ("session.txt",):
        (dest / "data" / leftover).unlink(missing_ok=True)
    if bank is not None:
        (dest / "data").mkdir(exist_ok=True)
        (dest / "data" / "bank.json").write_bytes(_bytes(bank))
    for name, content in (web or {}).items():
        path = dest / "web" / name
        if content is None:
            path.unlink(missing_ok=True)
            continue
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(_bytes(content))
    return dest


def command(folder, *args) -> list[str]:
    exe = str(Path(folder) / EXE_NAME)
    if WINDOWS:
        return [str(ROOT / "scripts" / "wine-run.sh"), exe, *args]
    return [exe, *args]


def environment(env=None, display=False) -> dict:
    """The program's environment: os.environ with env applied (None values remove a variable),
    without a display unless a test asks for one, so a box the program shows when it cannot
    start never waits for a click."""
    out = dict(os.environ)
    if not display:
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            out.pop(name, None)
    out.setdefault("NO_AT_BRIDGE", "1")  # no accessibility bus to wait for
    out.setdefault("GSETTINGS_BACKEND", "memory")  # GTK's dialogs want no settings daemon
    for name, value in (env or {}).items():
        if value is None:
            out.pop(name, None)
        else:
            out[name] = str(value)
    return out


def program_env(display=False) -> dict:
    """The program's environment with nothing changed but the display."""
    return environment(None, display)


def run_duty(folder, *args, timeout=None, env=None, display=False) -> subprocess.CompletedProcess:
    """Runs the program to its end (a duty such as --stop or --import-bank)."""
    return subprocess.run(command(folder, *args), cwd=folder, capture_output=True,
                          timeout=timeout or START_TIMEOUT, stdin=subprocess.DEVNULL,
                          env=environment(env, display))


def wait_for(condition, timeout=None, what="the condition", poll=0.02):
    """Polls condition() until it returns a true value, and returns that value."""
    end = time.monotonic() + (timeout or START_TIMEOUT)
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= end:
            raise AssertionError(f"{what}: not reached within {timeout or START_TIMEOUT:.0f} s")
        time.sleep(poll)


def wait_log(folder, text, timeout=None) -> str:
    """The daily log(s) of folder once they hold text."""
    return wait_for(lambda: (lambda log: log if text in log else "")(read_logs(folder)), timeout,
                    f"log line {text!r} in {folder}")


def parse_response(data: bytes) -> Response | None:
    head, sep, body = data.partition(b"\r\n\r\n")
    if not sep:
        return None
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split(" ")[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return Response(status, headers, body)


class Tavrin:
    def __init__(self, folder: Path, proc: subprocess.Popen):
        self.folder = Path(folder)
        self.proc = proc
        self.url = self.host = self.token = ""
        self.port = 0

    # ---- life ---------------------------------------------------------------------

    @classmethod
    def start(cls, folder, *args, no_browser=True, timeout=None, env=None, display=False) -> "Tavrin":
        folder = Path(folder)
        # A program that was killed leaves its session.txt; never read that one.
        (folder / "data" / "session.txt").unlink(missing_ok=True)
        argv = command(folder, *(["--no-browser"] if no_browser else []), *args)
        proc = subprocess.Popen(argv, cwd=folder, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                env=environment(env, display))
        app = cls(folder, proc)
        app._wait_session(timeout or START_TIMEOUT)
        return app

    def _wait_session(self, timeout):
        session = self.folder / "data" / "session.txt"
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.proc.poll() is not None:
                raise RuntimeError(f"program ended with {self.proc.returncode} before serving: "
                                   f"{self.proc.stderr.read().decode(errors='replace')}\n{self.log()}")
            try:
                url = session.read_text("utf-8")
            except OSError:
                url = ""
            if url.startswith("http://") and "#token=" in url:
                self.url = url
                self.host = url[len("http://"):].split("/", 1)[0]
                self.port = int(self.host.rsplit(":", 1)[1])
                self.token = url.split("#token=", 1)[1]
                return
            time.sleep(0.02)
        self.kill()
        raise TimeoutError("no session.txt within %.0f s" % timeout)

    def running(self) -> bool:
        return self.proc.poll() is None

    def wait(self, timeout=None) -> int:
        return self.proc.wait(timeout=timeout or START_TIMEOUT)

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def terminate(self):
        """SIGTERM (Linux): the program ends in the same order as after /api/shutdown."""
        self.proc.send_signal(signal.SIGTERM)

    def stop(self, timeout=None) -> int:
        """Ends the program in order; kills it only when it does not end by itself.
        On a loaded machine the shutdown request itself may go unanswered (refused, reset,
        timed out): it is sent again until the program answers it or has ended."""
        end = time.monotonic() + (timeout or START_TIMEOUT)
        answered = False
        while self.proc.poll() is None and not answered and time.monotonic() < end:
            try:
                answered = self.post("/api/shutdown",
                                     timeout=max(1.0, min(REQUEST_TIMEOUT, end - time.monotonic()))
                                     ).status == 200
            except OSError:
                if self.proc.poll() is None:
                    time.sleep(0.2)  # then ask again
        if self.proc.poll() is None:
            try:
                self.proc.wait(timeout=max(1.0, end - time.monotonic()))
            except subprocess.TimeoutExpired:
                self.kill()
                raise AssertionError("the program did not end after /api/shutdown" +
                                     ("" if answered else " (never answered it)"))
        if self.proc.stderr:
            self.proc.stderr.close()
        return self.proc.returncode

    # ---- requests -----------------------------------------------------------------

    def connect(self, timeout=REQUEST_TIMEOUT) -> socket.socket:
        return socket.create_connection(("127.0.0.1", self.port), timeout=timeout)

    def raw(self, data: bytes, timeout=REQUEST_TIMEOUT, shut_write=False) -> bytes:
        """Sends data as it is and reads until the server closes."""
        with self.connect(timeout) as s:
            s.sendall(data)
            if shut_write:
                s.shutdown(socket.SHUT_WR)
            chunks = []
            while True:
                try:
                    chunk = s.recv(65536)
                except ConnectionResetError:
                    break
                if not chunk:
                    break
                chunks.append(chunk)
            return b"".join(chunks)

    def build(self, method, path, body=b"", headers=None, auth=True) -> bytes:
        body = _bytes(body)
        fields = {"Host": self.host}
        if auth and path.startswith("/api/"):
            fields["Authorization"] = "Bearer " + self.token
        if body or method in ("POST", "PUT"):
            fields["Content-Length"] = str(len(body))
        for name, value in (headers or {}).items():
            for old in [k for k in fields if k.lower() == name.lower()]:
                del fields[old]
            if value is not None:
                fields[name] = value
        head = f"{method} {path} HTTP/1.1\r\n" + "".join(f"{k}: {v}\r\n" for k, v in fields.items())
        return head.encode("utf-8") + b"\r\n" + body

    def request(self, method, path, body=b"", headers=None, auth=True, timeout=REQUEST_TIMEOUT) -> Response:
        data = self.raw(self.build(method, path, body, headers, auth), timeout)
        r = parse_response(data)
        if r is None:
            raise ConnectionError(f"no answer to {method} {path}")
        return r

    def get(self, path, headers=None, **kw) -> Response:
        return self.request("GET", path, b"", headers, **kw)

    def post(self, path, body=b"", headers=None, **kw) -> Response:
        return self.request("POST", path, body, headers, **kw)

    # ---- files --------------------------------------------------------------------

    def data(self, name) -> Path:
        return self.folder / "data" / name

    def log(self) -> str:
        return read_logs(self.folder)

    def wait_log(self, text, timeout=None) -> str:
        return wait_log(self.folder, text, timeout)


def read_logs(folder) -> str:
    logs = sorted((Path(folder) / "logs").glob("Tavrin-*.log"))
    return "".join(p.read_text("utf-8", errors="replace") for p in logs)
