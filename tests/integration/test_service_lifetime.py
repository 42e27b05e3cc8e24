"""Command line, single instance, --stop, signals and the orderly end."""
import json
import os
import stat
import subprocess
import time

import pytest

import tavrin as tv

linux_only = pytest.mark.skipif(tv.WINDOWS, reason="POSIX signals and file modes do not exist for the Windows program")


def ended_in_order(app, code=0):
    assert app.wait() == code
    assert not app.data("session.txt").exists()
    assert "窗口关闭，正常退出；本次运行" in app.log()


def test_second_instance_leaves_the_first_alone(start_tavrin):
    first = start_tavrin()
    url = first.data("session.txt").read_bytes()
    for args in (["--no-browser"], ["--no-browser", "--browser"]):
        done = tv.run_duty(first.folder, *args)
        assert done.returncode == 0
    assert first.data("session.txt").read_bytes() == url
    assert first.log().count("已有程序在运行，本次只打开已有窗口") == 2
    assert first.get("/api/status").status == 200


def test_second_instance_without_session_file(start_tavrin):
    first = start_tavrin()
    first.data("session.txt").unlink()
    assert tv.run_duty(first.folder, "--no-browser").returncode == 0
    assert not first.data("session.txt").exists()
    assert first.running()


@pytest.mark.parametrize("arg", ["--stop", "C:/path--stop/x", "x--stopy"])
def test_stop_ends_the_running_instance(start_tavrin, arg):
    app = start_tavrin()
    done = tv.run_duty(app.folder, arg)
    assert done.returncode == 0
    ended_in_order(app)
    assert "收到 --stop：已通知正在运行的程序退出" in app.log()


def test_stop_without_a_running_instance(app_folder):
    folder = app_folder()
    assert tv.run_duty(folder, "--stop").returncode == 0
    assert "收到 --stop：没有找到正在运行的程序" in tv.read_logs(folder)
    assert not (folder / "data" / "session.txt").exists()


@pytest.mark.parametrize("bank", [b"", b"{not json", json.dumps({"version": 1, "questions": []}).encode()],
                         ids=["empty", "broken", "no questions"])
@pytest.mark.parametrize("args", [["--no-browser"], ["--stop"]])
def test_broken_bank_refuses_the_start(app_folder, bank, args):
    folder = app_folder(bank=bank)
    done = tv.run_duty(folder, *args)
    assert done.returncode == 1, done.stderr.decode(errors="replace")
    tv.wait_log(folder, "启动失败：题库未能加载，程序退出")
    assert not (folder / "data" / "session.txt").exists()


def test_missing_bank_refuses_the_start(app_folder):
    folder = app_folder()
    (folder / "data" / "bank.json").unlink()
    assert tv.run_duty(folder, "--no-browser").returncode == 1
    log = tv.read_logs(folder)
    assert "无法读取 data" in log and "启动失败：题库未能加载，程序退出" in log


@pytest.mark.parametrize("bank", [None, "{broken"])
def test_shortcut_command_starts_nothing_else(app_folder, tmp_path, bank):
    """A shortcut repair does its work and ends: no store, no log, no service, whatever the bank."""
    folder = app_folder(bank=bank)
    empty = tmp_path / "no shortcuts"
    empty.mkdir()
    arg = "Z:" + str(empty).replace("/", "\\") if tv.WINDOWS else str(empty)
    assert tv.run_duty(folder, "--refresh-icons-in", arg).returncode == 0
    assert tv.run_duty(folder, "--refresh-icons-in", arg + "x").returncode == 1
    assert not (folder / "logs").exists()
    assert not (folder / "data" / "session.txt").exists()


def test_two_folders_side_by_side(start_tavrin):
    a = start_tavrin(name="one")
    b = start_tavrin(name="two")
    assert a.port != b.port and a.token != b.token
    assert a.get("/api/status").status == b.get("/api/status").status == 200
    assert tv.run_duty(a.folder, "--stop").returncode == 0
    ended_in_order(a)
    assert b.running() and b.get("/api/status").status == 200


def test_token_differs_per_start(app_folder):
    folder = app_folder()
    tokens = []
    for _ in range(2):
        app = tv.Tavrin.start(folder)
        tokens.append(app.token)
        assert app.stop() == 0
    assert tokens[0] != tokens[1]
    assert tv.read_logs(folder).count("窗口关闭，正常退出；本次运行") == 2


def test_old_token_and_port_rejected_after_restart(app_folder):
    folder = app_folder()
    old = tv.Tavrin.start(folder)
    old_token = old.token
    assert old.stop() == 0
    new = tv.Tavrin.start(folder)
    try:
        r = new.get("/api/status", {"Authorization": "Bearer " + old_token})
        assert r.status == 403
    finally:
        assert new.stop() == 0


@linux_only
@pytest.mark.parametrize("signal_name", ["SIGTERM", "SIGINT"])
def test_signals_end_in_order(start_tavrin, signal_name):
    import signal
    app = start_tavrin()
    app.proc.send_signal(getattr(signal, signal_name))
    ended_in_order(app)


@linux_only
def test_session_file_private_and_url_printed(app_folder):
    folder = app_folder()
    proc = subprocess.Popen(tv.command(folder, "--no-browser"), stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    line = proc.stdout.readline().decode().strip()
    session = folder / "data" / "session.txt"
    assert session.read_text() == line and line.startswith("http://127.0.0.1:")
    assert stat.S_IMODE(os.stat(session).st_mode) == 0o600
    assert tv.run_duty(folder, "--stop").returncode == 0
    assert proc.wait(timeout=tv.START_TIMEOUT) == 0
    proc.stdout.close()


@linux_only
def test_token_never_on_a_command_line(start_tavrin):
    app = start_tavrin()
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                cmdline = open(f"/proc/{pid}/cmdline", "rb").read()
            except OSError:
                continue
            assert app.token.encode() not in cmdline


def test_stop_waits_for_a_request_in_flight(start_tavrin):
    app = start_tavrin()
    s = app.connect()
    s.sendall(f"POST /api/state HTTP/1.1\r\nHost: {app.host}\r\nAuthorization: Bearer {app.token}\r\n"
              "Content-Length: 8\r\n\r\n{\"a\"".encode())
    time.sleep(0.3)
    assert app.post("/api/shutdown").json() == {"ok": True}
    time.sleep(1.2)
    assert app.running()  # the open request holds the end
    s.sendall(b":11}")
    reply = s.recv(65536)
    s.close()
    assert b'{"ok":true}' in reply
    ended_in_order(app)
    assert json.loads(app.data("state.json").read_text()) == {"a": 11}
