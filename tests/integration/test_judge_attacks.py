"""Learners' programs that try to get out of the judge's sandbox, each judged through the real
program: as root, and as an unprivileged user (setpriv) where the machine allows.

Each attack program (tests/fixtures/judge/attacks) prints the question's expected output only
when every attempt was refused. Around each one the suite checks what the program could have
touched: a canary file outside the work folder that anyone may write (so only the sandbox keeps
it as it is), the judge's own limits, scheduling and state, processes left over, the work folder,
and at the end that the judge answers another submission and ends in order. The program runs
with a terminal as its controlling terminal, so that injection into it would show.
"""
from __future__ import annotations

import fcntl
import json
import os
import stat
import pty
import shutil
import subprocess
import tempfile
import termios
import time
from pathlib import Path

import pytest

from tavrin import LANE, ROOT, START_TIMEOUT, Tavrin, command, copy_app

pytestmark = pytest.mark.skipif(LANE == "windows", reason="the Linux sandbox; Wine runs no GCC here")

BANK = (ROOT / "tests" / "fixtures" / "bank" / "small.json").read_bytes()
ATTACKS = ROOT / "tests" / "fixtures" / "judge" / "attacks"
HELLO = (ROOT / "tests" / "fixtures" / "judge" / "hello.c").read_text()
NOBODY = 65534
ALL = ["passed"] * 3
ONE = ["passed"]

# program, mode ("sample": the one sample case; None: all three cases), statuses
CASES = [
    ("output_link", None, ALL),       # links and a new file under the judge's file names
    ("fifo", None, ALL),              # FIFOs and device nodes under those names
    ("sockets", "sample", ONE),       # MPTCP, raw, packet, netlink, Unix ...
    ("signal_owner", "sample", ONE),  # F_SETOWN/F_SETSIG, FIOSETOWN, kill, pidfd
    ("other_pids", "sample", ONE),    # prlimit, sched_*, setpriority, ioprio on the judge
    ("terminal", "sample", ONE),      # TIOCSTI, controlling terminal
    ("metadata", "sample", ONE),      # chmod, chown, xattr, utimes, unlink outside
    ("pipe_memory", "sample", ONE),   # F_SETPIPE_SZ, many pipes, memfd
    ("threads", "sample", ONE),       # thousands of threads
    ("spin_threads", None, ["timeout", "timeout", "skipped"]),  # no CPU-time runtime_error
    ("workdir", "sample", ONE),       # private folder, unguessable name
    ("judge_proc", "sample", ONE),    # /proc/<judge>/mem and fd, pidfd_getfd, process_vm_readv
    ("by_handle", "sample", ONE),     # name_to_handle_at / open_by_handle_at
    ("userfault", "sample", ONE),     # userfaultfd, io_uring
    ("memfd_exec", "sample", ONE),    # a copy of itself run from a memfd is just as confined
    ("splice", "sample", ONE),        # splice/tee/vmsplice into a file it may only read
    ("clone_flags", "sample", ONE),   # clone3 and clone flags
    ("personality", "sample", ONE),
    ("sysv_ipc", "sample", ONE),      # shared memory, message queues
    ("read_outside", "sample", ONE),  # terminals, session file, logs, home, the temporary folder
    ("inode_flags", "sample", ONE),   # FS_IOC_SETFLAGS/SETVERSION/FSSETXATTR, file_setattr
    ("folder_chain", "sample", ONE),  # a chain of folders grown from the top
    # many files of 128 KiB: a full file system of its own, or a flood the judge stops
    ("disk_fill", "sample", (ONE, ["output_limit"])),
]

# Programs whose compile reads files it must not: the compile fails (or the program prints
# nothing secret); either way no secret reaches the answer, the log or the output.
COMPILE_CASES = ["include_secret", "incbin_secret"]


def can_drop_to_nobody() -> bool:
    return os.geteuid() == 0 and shutil.which("setpriv") is not None


class Lane:
    """One started program with its canary, temporary folder and terminal."""

    def __init__(self, base: Path, user: str):
        self.user = user
        uid = NOBODY if user == "nobody" else os.geteuid()
        self.folder = copy_app(base / "app", bank=BANK)
        self.temp = base / "tmp"  # the judge's TMPDIR: private, as a user's own would be
        self.temp.mkdir(mode=0o700)
        # The canary: in a folder anyone may change, so only the sandbox keeps it as it is.
        self.canary_dir = Path(tempfile.mkdtemp(prefix="tav-canary-", dir="/tmp"))
        self.canary = self.canary_dir / "canary.txt"
        self.canary.write_text("canary\n")
        os.chmod(self.canary, 0o666)
        os.utime(self.canary, ns=(1_000_000_000_000_000_000, 1_000_000_000_000_000_000))
        try:
            os.setxattr(self.canary, "user.canary", b"1")
        except OSError:
            pass  # a file system without user attributes
        if user == "nobody":
            for path in [self.folder, *self.folder.rglob("*"), self.temp, self.canary_dir, self.canary]:
                os.lchown(path, uid, uid)
            os.chmod(base, 0o755)
        os.chmod(self.canary_dir, 0o777)
        # A private file of the judge's user outside everything the judge uses.
        self.secret_dir = base / "private"
        self.secret_dir.mkdir(mode=0o700)
        self.secret_text = "SECRET-" + os.urandom(12).hex()
        self.secret = self.secret_dir / "secret.txt"
        self.secret.write_text(self.secret_text + "\n")
        os.chmod(self.secret, 0o600)
        if user == "nobody":
            for path in (self.secret_dir, self.secret):
                os.lchown(path, uid, uid)
        # The program's controlling terminal.
        self.master, self.slave = pty.openpty()
        argv = command(self.folder, "--no-browser")
        if user == "nobody":
            argv = ["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups",
                    "--inh-caps=-all", *argv]
        env = dict(os.environ, TMPDIR=str(self.temp))
        slave = self.slave

        def take_terminal():
            fcntl.ioctl(slave, termios.TIOCSCTTY, 0)

        (self.folder / "data" / "session.txt").unlink(missing_ok=True)
        proc = subprocess.Popen(argv, cwd=self.folder, stdin=slave, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, env=env, start_new_session=True,
                                preexec_fn=take_terminal)
        self.app = Tavrin(self.folder, proc)
        self.app._wait_session(START_TIMEOUT)
        self.version = self.app.get("/api/status").json()["version"]
        self.session_file = self.folder / "data" / "session.txt"
        self.judge_state = self.state_of_judge()

    def defines(self) -> str:
        # Root's runs have a user id of their own: 64 tasks. An ordinary user's runs share the
        # count with the user's tasks: the system's task count at the start plus 64, with room
        # for what the busy machine starts meanwhile.
        tasks = int(Path("/proc/loadavg").read_text().split()[3].split("/")[1])
        bound = 64 if self.user == "root" else tasks + 64 + 300
        return (f'#define CANARY "{self.canary}"\n#define CANARY_DIR "{self.canary_dir}"\n'
                f'#define APP_DIR "{self.folder}"\n#define THREAD_BOUND {bound}\n'
                f'#define SESSION_FILE "{self.session_file}"\n#define SECRET_FILE "{self.secret}"\n')

    def secrets_in(self, text: str) -> list[str]:
        """The secrets a program could have stolen that appear in text."""
        return [name for name, value in (("token", self.app.token), ("secret", self.secret_text))
                if value and value in text]

    def canary_state(self):
        st = os.lstat(self.canary)
        try:
            attrs = sorted(os.listxattr(self.canary))
        except OSError:
            attrs = None
        return (self.canary.read_bytes(), st.st_mode, st.st_uid, st.st_gid, st.st_mtime_ns,
                attrs, sorted(os.listdir(self.canary_dir)))

    def state_of_judge(self):
        pid = self.app.proc.pid
        stat = Path(f"/proc/{pid}/stat").read_text()
        fields = stat[stat.rindex(")") + 2:].split()
        limits = Path(f"/proc/{pid}/limits").read_text()
        return {"state": fields[0].replace("S", "R"), "nice": fields[16], "limits": limits,
                "affinity": sorted(os.sched_getaffinity(pid)), "policy": os.sched_getscheduler(pid)}

    def judge(self, code: str, mode=None):
        body = {"id": "hello", "code": code}
        if mode:
            body["mode"] = mode
        r = self.app.post("/api/judge", json.dumps(body).encode(), timeout=120)
        assert r.status == 200
        return r.json()

    def close(self):
        if self.app.running():
            self.app.kill()
        os.close(self.master)
        os.close(self.slave)
        shutil.rmtree(self.canary_dir, ignore_errors=True)


def outside_cache(temp: Path) -> list[str]:
    """What lies in the judge's temporary folder besides its compile cache, which must stay
    private to the user and hold whole entries only."""
    names = sorted(os.listdir(temp))
    for name in [n for n in names if n.startswith("Mesk-cache-")]:
        cache = temp / name
        st = os.lstat(cache)
        assert stat.S_ISDIR(st.st_mode) and st.st_mode & 0o077 == 0, oct(st.st_mode)
        assert all(n.endswith(".bin") for n in os.listdir(cache)), os.listdir(cache)
        names.remove(name)
    return names


def leftovers(folder: Path) -> list[str]:
    """Processes whose working folder or program lies in folder."""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        for link in ("cwd", "exe"):
            try:
                target = os.readlink(entry / link)
            except OSError:
                continue
            if target.startswith(str(folder)):
                found.append(f"{entry.name} {link} {target}")
    return found


def wait_for(condition, seconds=10.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


@pytest.fixture(scope="module", params=["root", "nobody"])
def lane(request):
    if request.param == "root" and os.geteuid() != 0:
        pytest.skip("runs as root in CI; here the user lane covers it")
    if request.param == "nobody" and not can_drop_to_nobody():
        pytest.skip("setpriv to an unprivileged user needs root")
    # Under /tmp, so that an unprivileged user can reach the program folder.
    base = Path(tempfile.mkdtemp(prefix=f"tav-attack-{request.param}-", dir="/tmp"))
    try:
        lane = Lane(base, request.param)
        yield lane
        lane.close()
    finally:
        shutil.rmtree(base, ignore_errors=True)


@pytest.mark.parametrize("name,mode,statuses", CASES, ids=[c[0] for c in CASES])
def test_attack_is_refused(lane, name, mode, statuses):
    before = lane.canary_state()
    v = lane.judge(lane.defines() + (ATTACKS / f"{name}.c").read_text(), mode)
    assert v["compiled"] is True, v["diagnostics"]
    got = [c["status"] for c in v["cases"]]
    allowed = statuses if isinstance(statuses, tuple) else (statuses,)
    assert got in allowed, [c.get("actual") for c in v["cases"]]
    assert lane.secrets_in(json.dumps(v, ensure_ascii=False)) == []
    assert lane.secrets_in(lane.app.log()) == []
    if name == "spin_threads":
        assert all(c["exitCode"] == 1 for c in v["cases"][:2])
    # Nothing outside the work folder changed; nothing of the run is left.
    assert lane.canary_state() == before
    assert wait_for(lambda: leftovers(lane.temp) == []), leftovers(lane.temp)
    assert outside_cache(lane.temp) == []
    # The judge is unharmed: running, unchanged, and its memory its own.
    assert lane.app.running()
    assert lane.state_of_judge() == lane.judge_state
    assert lane.app.get("/api/status").json()["version"] == lane.version


@pytest.mark.parametrize("name", COMPILE_CASES)
def test_the_compile_reads_nothing_private(lane, name):
    v = lane.judge(lane.defines() + (ATTACKS / f"{name}.c").read_text(), "sample")
    answer = json.dumps(v, ensure_ascii=False)
    assert lane.secrets_in(answer) == [], answer[:2000]
    assert lane.secrets_in(lane.app.log()) == []
    assert v["compiled"] is False, "the compile read a file outside its folders"
    assert wait_for(lambda: leftovers(lane.temp) == []), leftovers(lane.temp)
    assert outside_cache(lane.temp) == []
    assert lane.app.running()


def test_the_judge_goes_on_and_ends_in_order(lane):
    v = lane.judge(HELLO)
    assert v["status"] == "accepted"
    # Nothing was typed into the terminal.
    os.set_blocking(lane.slave, False)
    os.set_blocking(lane.master, False)
    typed = b""
    for fd in (lane.slave, lane.master):
        try:
            typed += os.read(fd, 4096)
        except (BlockingIOError, OSError):
            pass
    assert b"INJECTED" not in typed
    assert lane.app.stop() == 0
    assert not (lane.folder / "data" / "session.txt").exists()
    assert outside_cache(lane.temp) == []
    log = lane.app.log()
    assert "评测 hello" in log
    assert lane.secrets_in(log) == []
    # The log is its user's alone; the compile cache went with the orderly end.
    logs = lane.folder / "logs"
    assert stat.S_IMODE(os.stat(logs).st_mode) == 0o700
    assert [oct(stat.S_IMODE(p.stat().st_mode)) for p in logs.iterdir()] == \
        [oct(0o600)] * len(list(logs.iterdir()))
    assert os.listdir(lane.temp) == []
