"""The program's own window on Linux: the real program, started without options,
shows the page in a real WebKitGTK window on the display of xvfb-run (1366x768, no
window manager). Stand-in pages (tests/fixtures/desktop) act out what the page does
and report through the real local API into data/state.json.
"""
from __future__ import annotations

import base64
import http.server
import json
import os
import signal
import subprocess
import threading
import time
from pathlib import Path

import pytest

import tavrin as tv

pytestmark = pytest.mark.skipif(tv.WINDOWS or not os.environ.get("DISPLAY"),
                                reason="the Linux window runs under xvfb-run")

if not tv.WINDOWS and os.environ.get("DISPLAY"):
    import xwin

TITLE = "Tavrin · C99 编程练习室 · Qy9"
FIXTURE = Path(__file__).resolve().parents[1] / "fixtures" / "desktop"
SHOTS = Path(os.environ.get("TAVRIN_BUILD", tv.ROOT / "build" / "linux")) / "desktop-shots"
READY_LINE = "界面加载完成，可以开始练习"


@pytest.fixture
def screen():
    s = xwin.Screen()
    yield s
    s.close()


def descendants(pid: int) -> set[int]:
    """Processes started by pid (WebKit's web and network processes)."""
    parents = {}
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                stat = (entry / "stat").read_text()
                parents[int(entry.name)] = int(stat.rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                pass
    found, todo = set(), [pid]
    while todo:
        p = todo.pop()
        for child, parent in parents.items():
            if parent == p and child not in found:
                found.add(child)
                todo.append(child)
    return found


class Window:
    """A started program with its window, ended in order (or killed) at the end."""

    def __init__(self, folder: Path, screen):
        self.folder = folder
        self.screen = screen
        self.proc = subprocess.Popen(tv.command(folder), cwd=folder, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     env=tv.program_env(display=True))
        self.children: set[int] = set()
        self.window = None

    def log(self) -> str:
        return tv.read_logs(self.folder)

    def wait_log(self, text, timeout=60.0, count=1):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.log().count(text) >= count:
                return
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        raise AssertionError(f"log line {text!r} x{count} missing:\n{self.log()}")

    def ready(self):
        self.wait_log(READY_LINE)
        self.window = self.screen.wait_for(TITLE)
        self.children = descendants(self.proc.pid)
        return self.window

    def state(self) -> dict:
        try:
            return json.loads((self.folder / "data" / "state.json").read_text("utf-8"))
        except (OSError, ValueError):
            return {}

    def wait_state(self, check, timeout=60.0) -> dict:
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            s = self.state()
            if s and check(s):
                return s
            time.sleep(0.05)
        raise AssertionError(f"the page never reported that state; last: {self.state()}")

    def wait_end(self, timeout=60.0) -> int:
        try:
            return self.proc.wait(timeout=timeout)
        finally:
            self.check_no_leftovers()

    def check_no_leftovers(self):
        end = time.monotonic() + 30
        alive = set()
        while time.monotonic() < end:
            alive = {p for p in self.children if Path(f"/proc/{p}").exists()
                     and "(Z)" not in Path(f"/proc/{p}/stat").read_text(errors="replace")}
            if not alive:
                return
            time.sleep(0.1)
        raise AssertionError(f"processes left behind: {alive}")

    def kill(self):
        if self.proc.poll() is None:
            for p in descendants(self.proc.pid):
                try:
                    os.kill(p, signal.SIGKILL)
                except OSError:
                    pass
            self.proc.kill()
            self.proc.wait()
        if self.proc.stderr:
            self.proc.stderr.close()


@pytest.fixture
def open_window(app_folder, screen):
    """open_window(config=None) -> Window: the real page, or the stand-in page acting
    out config["scenario"]."""
    started = []

    def start(config=None, name="app"):
        web = None
        if config is not None:
            script = (FIXTURE / "app.js").read_text("utf-8")
            head, rest = script.split("/*CONFIG*/", 1)
            script = head + json.dumps(config) + rest.split("/*END*/", 1)[1]
            web = {"index.html": (FIXTURE / "index.html").read_bytes(), "app.js": script}
        folder = app_folder(web=web, name=name)
        (folder / "data" / "state.json").unlink(missing_ok=True)
        w = Window(folder, screen)
        started.append(w)
        return w

    yield start
    for w in started:
        running = w.proc.poll() is None
        w.kill()
        assert not running, "the program was still running at the end of the test"


# ---- the window ---------------------------------------------------------------------


def test_window_shows_the_page_with_title_size_icon_and_identity(open_window, screen):
    w = open_window()
    win = w.ready()
    x, y, width, height = screen.geometry(win)
    # 1380x900 capped to the 1366x768 screen less 60 by 40, centred.
    assert (width, height) == (1306, 728)
    assert (x, y) == (30, 20)
    assert "桌面窗口已创建（1306x728）" in w.log()
    assert "本地服务已启动: http://127.0.0.1:" in w.log() and "（独立窗口）" in w.log()
    assert screen.wm_class(win) == ("Qy9.Tavrin", "Qy9.Tavrin")
    assert screen.has_icon(win)
    assert (w.folder / "data" / "desktop-profile").is_dir()
    assert not (w.folder / "data" / "desktop-profile").samefile(Path.home())
    # The page draws itself a little after "ready": wait until the window is more than
    # one flat colour (a flat 1306x728 picture packs to a few kB).
    end = time.monotonic() + 60
    while screen.screenshot(SHOTS / "window-1366x768.png", win).stat().st_size < 30000:
        assert time.monotonic() < end, "the page never appeared in the window"
        time.sleep(0.2)
    screen.screenshot(SHOTS / "screen-1366x768.png")

    screen.close_window(win)  # the real page saves and answers "close-ready"
    assert w.wait_end() == 0
    log = w.log()
    assert log.index("桌面窗口已关闭") < log.index("窗口关闭，正常退出")
    assert not (w.folder / "data" / "session.txt").exists()


def test_the_real_page_keeps_an_edit_made_just_before_the_window_closes(open_window, screen):
    w = open_window()
    win = w.ready()
    x, y, width, height = screen.geometry(win)
    # The editor fills the right half of the practice view.
    subprocess.run(["xdotool", "windowfocus", "--sync", str(win.id)], check=True, timeout=30)
    subprocess.run(["xdotool", "mousemove", "--sync", str(x + width * 3 // 4), str(y + height * 3 // 4), "click", "1"],
                   check=True, timeout=30)
    subprocess.run(["xdotool", "key", "--clearmodifiers", "ctrl+End"], check=True, timeout=30)
    before = screen.rows(win)
    subprocess.run(["xdotool", "type", "--delay", "20", "// draft-4711"], check=True, timeout=60)
    # Keys travel to the page on their own path: wait until the edit shows and the window
    # has stopped changing (apart from the blinking cursor, a couple of dozen rows), so the
    # edit is in the page, not still in flight, when the window is asked to close.
    last, calm, end = screen.rows(win), 0, time.monotonic() + 60
    while calm < 3:
        assert time.monotonic() < end, "the window never settled after typing"
        time.sleep(0.2)
        now = screen.rows(win)
        calm = calm + 1 if screen.rows_changed(last, now) <= 30 and screen.rows_changed(before, now) > 30 else 0
        last = now
    screen.close_window(win)
    assert w.wait_end() == 0
    assert "draft-4711" in (w.folder / "data" / "state.json").read_text("utf-8")


def test_close_lets_the_page_save_its_draft_before_the_window_goes(open_window, screen):
    w = open_window({"scenario": "close", "draft": "int main(void) { return 0; } /* 未保存 */"})
    win = w.ready()
    assert w.log().count(READY_LINE) == 1  # strings, arrays, other types and cases ignored
    assert w.state()["webview"] is True
    screen.close_window(win)
    screen.close_window(win)  # a second close while one is pending changes nothing
    assert w.wait_end() == 0
    state = w.state()
    assert state["draft"] == "int main(void) { return 0; } /* 未保存 */"
    assert state["closeRequests"] == 1
    assert "桌面窗口已关闭" in w.log()


def test_close_cancel_keeps_the_window_and_a_later_close_asks_again(open_window, screen):
    w = open_window({"scenario": "cancel"})
    win = w.ready()
    screen.close_window(win)
    w.wait_state(lambda s: s["closeRequests"] == 1)
    # The page answered close-cancel; the window stays until the page agrees.
    end = time.monotonic() + 3
    while time.monotonic() < end:
        assert w.proc.poll() is None and screen.find(TITLE) is not None
        time.sleep(0.2)
    screen.close_window(win)
    assert w.wait_end() == 0
    assert w.state()["closeRequests"] == 2


def test_a_silent_page_gets_the_question_after_ten_seconds(open_window, screen):
    w = open_window({"scenario": "silent"})
    win = w.ready()
    asked = time.monotonic()
    screen.close_window(win)
    w.wait_state(lambda s: s["closeRequests"] == 1)
    box = screen.wait_for("Tavrin", timeout=40)
    assert time.monotonic() - asked > 9.5
    screen.keys(box, "Escape")  # not "Yes": the window stays
    screen.wait_for("Tavrin", gone=True, timeout=30)
    assert w.proc.poll() is None and screen.find(TITLE) is not None

    screen.close_window(win)  # asks the page again, and after 10 s the user again
    w.wait_state(lambda s: s["closeRequests"] == 2)
    box = screen.wait_for("Tavrin", timeout=40)
    screen.keys(box, "alt+y")
    assert w.wait_end() == 0
    assert "桌面窗口已关闭" in w.log()


def test_stop_closes_the_window_within_a_second(open_window, screen):
    w = open_window()
    w.ready()
    done = tv.run_duty(w.folder, "--stop")
    sent = time.monotonic()
    assert done.returncode == 0
    screen.wait_for(TITLE, gone=True, timeout=30)
    assert time.monotonic() - sent < 1.0
    assert w.wait_end() == 0
    assert "收到 --stop：已通知正在运行的程序退出" in w.log()


def test_a_second_start_brings_the_window_to_the_front(open_window, screen):
    w = open_window()
    win = w.ready()
    cover = screen.cover(0, 0, 1366, 768)
    try:
        assert screen.above(cover, win)
        second = subprocess.run(tv.command(w.folder), cwd=w.folder, capture_output=True, timeout=60,
                                stdin=subprocess.DEVNULL, env=tv.program_env(display=True))
        assert second.returncode == 0
        assert "已有程序在运行，本次只打开已有窗口" in w.log()
        end = time.monotonic() + 10
        while not screen.above(win, cover) and time.monotonic() < end:
            time.sleep(0.05)
        assert screen.above(win, cover)
        assert len([t for t in screen.toplevels() if screen.title(t) == TITLE]) == 1
    finally:
        cover.destroy()
        screen.d.sync()
    screen.close_window(win)
    assert w.wait_end() == 0


# ---- the page stays on the local service ------------------------------------------


class Away(http.server.BaseHTTPRequestHandler):
    hits: list = []

    def do_GET(self):
        Away.hits.append(self.path)
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(b"<p>away</p>")

    def log_message(self, *args):
        pass


def test_links_popups_and_frames_off_the_origin_are_refused(open_window, screen):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Away)
    Away.hits = []
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        away = f"http://127.0.0.1:{server.server_address[1]}"
        # localhost is the same machine under another name: also off the origin.
        w = open_window({"scenario": "navigate", "away": away, "localhost": away.replace("127.0.0.1", "localhost")})
        w.ready()
        origin = "http://" + (w.folder / "data" / "session.txt").read_text().split("/")[2]
        state = w.wait_state(lambda s: s.get("stayed"))
        assert Away.hits == []
        assert state["href"].startswith(origin + "/#token=") and state["href"].endswith("&moved")
        assert state["openResult"] == "null"
        titles = [screen.title(t) for t in screen.toplevels()]
        assert titles.count(TITLE) == 1
        assert tv.run_duty(w.folder, "--stop").returncode == 0
        assert w.wait_end() == 0
    finally:
        server.shutdown()
        server.server_close()


# ---- export ----------------------------------------------------------------------------

EXPORT_BYTES = bytes(range(256)) + "#include <stdio.h>\r\n/* 中文 */\n".encode("utf-8") + b"\x00\xff"


def b64(data: bytes) -> str:
    return base64.b64encode(data).decode("ascii")


INVALID_SAVES = [  # (request, id of the answer)
    ({"type": "save", "id": 11, "name": "a.c"}, 11),                                   # no data
    ({"type": "save", "id": 12, "data": b64(b"x")}, 12),                               # no name
    ({"type": "save", "id": 13, "name": "../a.c", "data": b64(b"x")}, 13),            # slash
    ({"type": "save", "id": 14, "name": "c:a.c", "data": b64(b"x")}, 14),             # colon
    ({"type": "save", "id": 15, "name": 'a".c', "data": b64(b"x")}, 15),              # quote
    ({"type": "save", "id": 16, "name": "x" * 99 + ".c", "data": b64(b"x")}, 16),     # 101 bytes
    ({"type": "save", "id": 17, "name": "a.c", "data": "not base64!"}, 17),
    ({"type": "save", "id": 18, "name": "a.c", "data": {"zeros": 4194304 + 1}}, 18),  # made by the page
    ({"type": "save", "name": "a.c"}, 0),                                              # no id: 0
]


def test_export_answers_invalid_requests_and_writes_the_exact_bytes(open_window, screen, tmp_path):
    out = tmp_path / "picked"
    out.mkdir()
    saves = [req for req, _ in INVALID_SAVES]
    saves.append({"type": "save", "id": 21, "name": "main.c", "data": b64(EXPORT_BYTES)})
    saves.append({"type": "save", "id": 22, "name": "bank.json.txt", "data": b64(b"{}")})
    w = open_window({"scenario": "save", "saves": saves})
    w.ready()
    state = w.wait_state(lambda s: len(s["replies"]) >= len(INVALID_SAVES))
    answers = {r["id"]: r for r in state["replies"]}
    for _, want_id in INVALID_SAVES:
        assert answers[want_id] == {"type": "file-saved", "id": want_id, "ok": False, "cancelled": False,
                                    "message": "导出内容无效或过大。"}

    # The dialog for main.c proposes the folder 我的代码 (made for it); the name typed
    # without an extension gets ".c".
    dialog = screen.wait_for("导出学习文件", timeout=60)
    assert (w.folder / "我的代码").is_dir()
    screen.keys(dialog, "ctrl+a")
    screen.type(dialog, str(out / "exported"))
    screen.keys(dialog, "Return")
    state = w.wait_state(lambda s: any(r["id"] == 21 for r in s["replies"]))
    reply = next(r for r in state["replies"] if r["id"] == 21)
    assert reply == {"type": "file-saved", "id": 21, "ok": True, "cancelled": False,
                     "message": "文件已保存到你选择的位置。"}
    assert (out / "exported.c").read_bytes() == EXPORT_BYTES

    # The next request waited for the first dialog; cancelling it is answered as such.
    dialog = screen.wait_for("导出学习文件", timeout=60)
    assert (w.folder / "题库更新").is_dir()
    screen.keys(dialog, "Escape")
    state = w.wait_state(lambda s: any(r["id"] == 22 for r in s["replies"]))
    reply = next(r for r in state["replies"] if r["id"] == 22)
    assert reply == {"type": "file-saved", "id": 22, "ok": False, "cancelled": True, "message": "文件未保存。"}
    assert tv.run_duty(w.folder, "--stop").returncode == 0
    assert w.wait_end() == 0


def test_export_into_a_place_that_cannot_be_written_is_answered(open_window, screen):
    # Nothing can be created in /proc, not even by root.
    w = open_window({"scenario": "save", "saves": [{"type": "save", "id": 5, "name": "a.c", "data": b64(b"x")}]})
    w.ready()
    dialog = screen.wait_for("导出学习文件", timeout=60)
    screen.keys(dialog, "ctrl+a")
    screen.type(dialog, "/proc/tavrin-export.c")
    screen.keys(dialog, "Return")
    state = w.wait_state(lambda s: s["replies"])
    assert state["replies"] == [{"type": "file-saved", "id": 5, "ok": False, "cancelled": False,
                                 "message": "无法写入所选位置。"}]
    assert tv.run_duty(w.folder, "--stop").returncode == 0
    assert w.wait_end() == 0


# ---- without a window ------------------------------------------------------------------


def test_without_a_display_the_start_takes_the_failed_window_path(app_folder):
    folder = app_folder()
    done = tv.run_duty(folder)  # no DISPLAY
    assert done.returncode == 0
    assert "没有可用的图形显示" in done.stderr.decode("utf-8")
    log = tv.read_logs(folder)
    assert "[E] 桌面窗口创建失败，可改用“浏览器模式.bat”继续学习" in log
    assert "窗口关闭，正常退出" in log


def test_a_start_failure_is_a_gtk_box_when_there_is_a_display(app_folder, screen):
    folder = app_folder(bank=b"{ broken")
    proc = subprocess.Popen(tv.command(folder), cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=tv.program_env(display=True))
    try:
        # The store's own box about the bank comes first, then the start's.
        box = screen.wait_for("Mesk", timeout=60)
        screen.keys(box, "Return")
        box = screen.wait_for("C 语言学习助手", timeout=60)
        assert proc.poll() is None  # waits for the learner to read it
        screen.keys(box, "Return")
        assert proc.wait(timeout=60) == 1
        assert proc.stderr.read() == b""
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.stderr.close()
