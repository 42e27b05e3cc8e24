"""The program's own window on Windows, under Wine on the display of xvfb-run.

The WebView2 runtime cannot run here. The program folder holds our own WebView2Loader.dll;
a stand-in of the runtime's client library (tests/webview2, built into build/windows/standin)
is laid out as an installed runtime and registered in the suite's Wine prefix the way the
runtime registers itself, so the window reaches it through our loader. The stand-in acts out
the runtime from a script and logs what the loader and the host do to it; the real
Tavrin.exe does everything else.
"""
from __future__ import annotations

import base64
import os
import shutil
import struct
import subprocess
import time
from pathlib import Path

import pytest

import tavrin as tv

pytestmark = pytest.mark.skipif(not tv.WINDOWS or not os.environ.get("DISPLAY"),
                                reason="the Windows window runs under Wine on xvfb-run")

BUILD = Path(os.environ.get("TAVRIN_BUILD", tv.ROOT / "build" / "windows"))
CLIENT = BUILD / "standin" / "EmbeddedBrowserWebView.dll"
NO_ENTRY = BUILD / "standin" / "noentry" / "EmbeddedBrowserWebView.dll"
READY = "界面加载完成，可以开始练习"
TIMEOUT = 180


@pytest.fixture(scope="module", autouse=True)
def own_wine_server():
    """The suite's own Wine prefix, so its windows get a Wine desktop on this display:
    a server shared with suites that run without a display shows no windows at all.
    It shares drive C with the usual prefix and has copies of the registry."""
    shared = Path(os.environ.get("TAVRIN_WINEPREFIX", Path.home() / ".wine-tavrin"))
    prefix = BUILD / "wine-desktop"
    if not (prefix / "system.reg").exists():
        prefix.mkdir(parents=True, exist_ok=True)
        for name in ("system.reg", "user.reg", "userdef.reg"):
            shutil.copy(shared / name, prefix / name)
        (prefix / "drive_c").unlink(missing_ok=True)
        (prefix / "drive_c").symlink_to(shared / "drive_c")
        shutil.copytree(shared / "dosdevices", prefix / "dosdevices", symlinks=True, dirs_exist_ok=True)
    os.environ["WINEPREFIX"] = str(prefix)
    yield
    register(prefix, [])  # no registration left pointing into a removed test folder
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=str(prefix)), timeout=60)
    os.environ.pop("WINEPREFIX", None)


def wine_path(path: Path) -> str:
    return "Z:" + str(path).replace("/", "\\")


# Where the runtime's updater registers each channel: HKLM in the 32-bit view (it is a 32-bit
# program) or HKCU, value EBWebView = the installed version's folder.
CHANNELS = {"stable": "{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", "beta": "{2CD8A007-E189-409D-A2C8-9AF4EF3C72AA}",
            "dev": "{0D50BFEC-CD6A-4F9A-964C-C7416E3ACB10}", "canary": "{65C35B14-6C1D-4122-AC46-7148CC9D6497}"}
HIVES = {"machine": r"HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\EdgeUpdate",
         "user": r"HKEY_CURRENT_USER\Software\Microsoft\EdgeUpdate"}
STABLE_VERSION = "120.0.2210.91"  # also the file version of the stand-in library


def install_runtime(root: Path, version: str, client: Path | None = CLIENT) -> Path:
    """An installed runtime's version folder under root, with client as its client library."""
    folder = root / version
    (folder / "EBWebView" / "x64").mkdir(parents=True, exist_ok=True)
    if client:
        shutil.copy(client, folder / "EBWebView" / "x64" / "EmbeddedBrowserWebView.dll")
    return folder


def register(tmp: Path, entries):
    """Replaces every runtime registration of the suite's prefix with entries:
    (hive, channel, folder text) each."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    lines += [f"[-{root}]" for root in HIVES.values()] + [""]
    for hive, channel, value in entries:
        lines += [f"[{HIVES[hive]}\\ClientState\\{CHANNELS[channel]}]",
                  '"EBWebView"="' + value.replace("\\", "\\\\") + '"', ""]
    reg = tmp / "runtime.reg"
    reg.write_text("\r\n".join(lines) + "\r\n", "ascii")
    done = subprocess.run([str(tv.ROOT / "scripts" / "wine-run.sh"), "regedit", "/S", wine_path(reg)],
                          capture_output=True, timeout=TIMEOUT, stdin=subprocess.DEVNULL)
    assert done.returncode == 0, done


class Run:
    def __init__(self, folder: Path, tmp: Path, script: list[str], loader=True, runtimes=None, env=None):
        """runtimes: (hive, channel, folder text) registrations; by default one stable runtime
        installed for the machine. env: variables for the program (None removes one)."""
        self.folder = folder
        self.script = tmp / "script.txt"
        self.trace = tmp / "standin.log"
        self.script.write_text("\n".join(script) + "\n", "utf-8")
        self.trace.unlink(missing_ok=True)
        if not loader:
            (folder / "WebView2Loader.dll").unlink()
        if runtimes is None:
            runtimes = [("machine", "stable", wine_path(install_runtime(tmp / "machine", STABLE_VERSION)))]
        register(tmp, runtimes)
        extra = {name: None for name in ("WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", "WEBVIEW2_USER_DATA_FOLDER",
                                         "WEBVIEW2_RELEASE_CHANNEL_PREFERENCE", "WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS")}
        extra.update(env or {})
        env = tv.environment(extra, display=True)
        env["TAVRIN_STANDIN_SCRIPT"] = wine_path(self.script)
        env["TAVRIN_STANDIN_LOG"] = wine_path(self.trace)
        self.proc = subprocess.Popen(tv.command(folder), cwd=folder, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)

    def log(self) -> str:
        return tv.read_logs(self.folder)

    def standin(self) -> list[str]:
        try:
            return self.trace.read_text("utf-8").splitlines()
        except OSError:
            return []

    def wait_for(self, check, what, timeout=TIMEOUT):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if check():
                return
            if self.proc.poll() is not None and not check():
                break
            time.sleep(0.1)
        raise AssertionError(f"{what} did not happen\nlog:\n{self.log()}\nstand-in:\n" + "\n".join(self.standin()))

    def wait_end(self, timeout=TIMEOUT) -> int:
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("the program did not end\n" + self.log() + "\n".join(self.standin()))

    def stop(self):
        assert tv.run_duty(self.folder, "--stop", timeout=TIMEOUT).returncode == 0
        return self.wait_end()


@pytest.fixture
def run(app_folder, tmp_path):
    runs = []

    def start(script, loader=True, name="app", runtimes=None, env=None):
        r = Run(app_folder(name=name), tmp_path, script, loader, runtimes, env)
        runs.append(r)
        return r

    yield start
    for r in runs:
        if r.proc.poll() is None:
            r.proc.kill()
            r.proc.wait()


# ---- the executable ----------------------------------------------------------------------


def pe_resources(path: Path) -> dict:
    """{(type, id): bytes} of a PE file's resources (first language of each)."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]  # PE32+: resource directory
    table = optional + optional_size
    base_rva = base_raw = None
    for i in range(sections):
        name, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if vaddr <= rva < vaddr + max(vsize, rsize):
            base_rva, base_raw = vaddr, raw
    assert base_rva is not None, "no resource section"
    at = lambda r: r - base_rva + base_raw  # noqa: E731
    root = at(rva)

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, offset + 16 + 8 * i)
            yield name, target

    out = {}
    for rtype, t1 in entries(root):
        for rid, t2 in entries(root + (t1 & 0x7FFFFFFF)):
            for _, t3 in entries(root + (t2 & 0x7FFFFFFF)):
                drva, size = struct.unpack_from("<II", data, root + t3)
                out[(rtype, rid)] = data[at(drva):at(drva) + size]
                break
    return out


def pe_exports(path: Path) -> set:
    """The names a PE32+ file exports."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    rva = struct.unpack_from("<I", data, optional + 112)[0]  # PE32+: export directory
    table = optional + optional_size
    spans = [struct.unpack_from("<8sIIII", data, table + 40 * i)[1:5] for i in range(sections)]

    def at(r):
        for vsize, vaddr, rsize, raw in spans:
            if vaddr <= r < vaddr + max(vsize, rsize):
                return r - vaddr + raw
        raise AssertionError(f"rva {r:#x} in no section")

    if not rva:
        return set()
    count, _, names = struct.unpack_from("<III", data, at(rva) + 24)
    out = set()
    for i in range(count):
        start = at(struct.unpack_from("<I", data, at(names) + 4 * i)[0])
        out.add(data[start:data.index(b"\0", start)].decode("ascii"))
    return out


def test_executable_carries_its_manifest_and_ten_icon_sizes():
    exe = Path(os.environ["TAVRIN_EXE"])
    res = pe_resources(exe)
    manifest = res[(24, 1)].decode("utf-8")
    assert "<dpiAwareness" in manifest and "PerMonitorV2" in manifest
    assert ">true/pm<" in manifest
    assert 'level="asInvoker"' in manifest
    group = res[(14, 101)]
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    assert (reserved, kind, count) == (0, 1, 10)
    sizes = []
    for i in range(count):
        w, h, _, _, planes, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        sizes.append(w or 256)
        assert bits == 32 and (w or 256) == (h or 256)
        assert (3, icon_id) in res
    assert sorted(sizes) == [16, 20, 24, 32, 40, 48, 64, 96, 128, 256]
    # The same picture beside the executable, for shortcuts and the taskbar.
    ico = (exe.parent / "Tavrin-brand.ico").read_bytes()
    assert struct.unpack_from("<HHH", ico, 0) == (0, 1, 10)
    bat = (exe.parent / "浏览器模式.bat").read_bytes()
    assert b"Tavrin.exe\" --browser\r\n" in bat
    # Our own loader with its exports; the runtime stand-ins never go into the program folder.
    assert {"CreateCoreWebView2EnvironmentWithOptions", "GetAvailableCoreWebView2BrowserVersionString"} <= \
        pe_exports(exe.parent / "WebView2Loader.dll")
    assert not list(exe.parent.rglob("EmbeddedBrowserWebView.dll"))


# ---- failures ------------------------------------------------------------------------------


def answer_box(title: str, timeout=TIMEOUT):
    """Presses Return in the program's box titled title (no stand-in is there to do it)."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        found = subprocess.run(["xdotool", "search", "--name", f"^{title}$"], capture_output=True, text=True)
        for window in found.stdout.split():
            subprocess.run(["xdotool", "windowfocus", "--sync", window], timeout=30)
            subprocess.run(["xdotool", "key", "--window", window, "Return"], timeout=30)
            return
        time.sleep(0.2)
    raise AssertionError(f"no box {title!r}")


def test_missing_loader_shows_the_box_and_ends(run):
    r = run([], loader=False)
    answer_box("Tavrin")
    assert r.wait_end() == 0
    log = r.log()
    assert "[E] 缺少 WebView2Loader.dll: Z:\\" in log and "\\WebView2Loader.dll" in log
    assert "桌面窗口已创建" not in log
    assert "[E] 桌面窗口创建失败" not in log  # the loader's own line, not the window's
    assert "窗口关闭，正常退出" in log


FAILURES = [
    (["env fail_sync 0x80070002"], [], "0x80070002"),
    (["env fail 0x80004004"], ["WebView2 运行环境创建失败 (0x80004004)，请确认已安装 WebView2 运行时"], "0x80004004"),
    (["env null"], ["WebView2 运行环境创建失败 (0x80004005)，请确认已安装 WebView2 运行时"], "0x80004005"),
    (["controller fail_sync 0x8007000e"], ["WebView2 运行环境创建失败 (0x8007000e)，请确认已安装 WebView2 运行时"],
     "0x8007000e"),
    (["controller fail 0x80070005"], ["WebView2 控制器创建失败 (0x80070005)"], "0x80070005"),
    (["controller null"], ["WebView2 控制器创建失败 (0x80004005)"], "0x80004005"),
    (["view null"], ["WebView2 核心对象不可用"], "0x80004005"),
]


@pytest.mark.parametrize("script,lines,code", FAILURES,
                         ids=["env-at-once", "env-later", "no-env", "controller-at-once", "controller-later",
                              "no-controller", "no-view"])
def test_each_runtime_failure_is_logged_shown_and_ends_the_window(run, script, lines, code):
    r = run(script)
    assert r.wait_end() == 0
    log = r.log()
    last = -1
    for line in lines + [f"桌面界面初始化失败 ({code})", "桌面窗口已关闭", "窗口关闭，正常退出"]:
        at = log.find(line)
        assert at > last, (line, log)
        last = at
    boxes = [l for l in r.standin() if l.startswith("box ")]
    assert boxes == [f"box Tavrin: 桌面界面初始化失败 ({code})。\n请检查 Microsoft Edge WebView2 Runtime 是否安装。"
                     f"\n也可使用“浏览器模式.bat”继续学习。".replace("\n", "\r\n")] or \
        boxes == [f"box Tavrin: 桌面界面初始化失败 ({code})。"], boxes


# ---- finding the runtime -------------------------------------------------------------------

# (hive, channel, version) installed and registered; the environment; which one is used.
FOUND = [
    ([("user", "stable", "121.0.1.0")], {}, ("user", "stable", "121.0.1.0")),
    ([("machine", "stable", "120.0.2210.91")], {}, ("machine", "stable", "120.0.2210.91")),
    ([("user", "stable", "121.0.1.0"), ("machine", "stable", "120.0.2210.91")], {},
     ("machine", "stable", "120.0.2210.91")),
    ([("machine", "beta", "122.0.1.0"), ("user", "stable", "121.0.1.0")], {}, ("user", "stable", "121.0.1.0")),
    ([("machine", "beta", "122.0.1.0"), ("user", "stable", "121.0.1.0")],
     {"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE": "1"}, ("machine", "beta", "122.0.1.0")),
    ([("machine", "stable", "85.0.564.68"), ("user", "canary", "123.0.1.0")], {}, ("user", "canary", "123.0.1.0")),
]


@pytest.mark.parametrize("installed,env,used", FOUND, ids=[
    "per-user-only", "machine-only", "machine-before-user", "stable-before-beta", "preference-least-stable",
    "older-than-minimum-skipped"])
def test_the_loader_finds_the_registered_runtime(run, tmp_path, installed, env, used):
    folders = {}
    for hive, channel, version in installed:
        folders[(hive, channel, version)] = install_runtime(tmp_path / hive / channel, version)
    r = run(["answer close-ready", 'message origin {"type":"ready"}', "close"], env=env,
            runtimes=[(h, c, wine_path(f)) for (h, c, _), f in folders.items()])
    assert r.wait_end() == 0
    trace = r.standin()
    expected = folders[used] / "EBWebView" / "x64" / "EmbeddedBrowserWebView.dll"
    assert f"client {wine_path(expected)}" in trace, trace
    assert trace[0].startswith("create environment kind=0 check=1 data=Z:\\"), trace
    assert trace[0].endswith("\\data\\desktop-profile options=0"), trace
    channel = "" if used[1] == "stable" else " " + used[1]
    log = r.log()
    assert f"WebView2 运行时版本: {used[2]}{channel}" in log
    assert log.count(READY) == 1 and "桌面窗口已关闭" in log


def test_the_environment_names_a_fixed_runtime_and_the_data_folder(run, tmp_path):
    fixed = install_runtime(tmp_path / "fixed", "any-name")
    profile = tmp_path / "profile"
    r = run(["answer close-ready", 'message origin {"type":"ready"}', "close"],
            env={"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER": wine_path(fixed),
                 "WEBVIEW2_USER_DATA_FOLDER": wine_path(profile)})  # a registered runtime is there too
    assert r.wait_end() == 0
    trace = r.standin()
    assert trace[0] == f"create environment kind=1 check=1 data={wine_path(profile)} options=0", trace
    assert f"client {wine_path(fixed / 'EBWebView' / 'x64' / 'EmbeddedBrowserWebView.dll')}" in trace
    assert f"WebView2 运行时版本: {STABLE_VERSION}" in r.log()  # the library's own file version


def refused_runtimes(tmp: Path, folder: Path):
    """Rows of runtimes the loader must not use, each: (registrations, environment, code)."""
    old = install_runtime(tmp / "old", "86.0.615.99")
    empty = install_runtime(tmp / "empty", "121.0.1.0", client=None)
    broken = install_runtime(tmp / "broken", "121.0.1.0", client=NO_ENTRY)
    # A registration naming a relative folder, with a library planted where a lookup from the
    # program's current folder would find it.
    install_runtime(folder, "122.0.1.0")
    return {
        "none-registered": ([], {}, "0x80070002"),
        "only-older-than-minimum": ([("machine", "stable", wine_path(old))], {}, "0x80070002"),
        "registered-folder-without-library": ([("user", "stable", wine_path(empty))], {}, "0x80070002"),
        "relative-registration": ([("machine", "stable", "122.0.1.0"), ("user", "beta", "122.0.1.0")], {},
                                  "0x80070002"),
        "fixed-folder-without-runtime": ([("machine", "stable", wine_path(install_runtime(tmp / "ok", "121.0.1.0")))],
                                         {"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER": wine_path(empty)}, "0x80070002"),
        "library-without-entry-point": ([("machine", "stable", wine_path(broken))], {}, "0x8007007f"),
    }


@pytest.mark.parametrize("row", ["none-registered", "only-older-than-minimum", "registered-folder-without-library",
                                 "relative-registration", "fixed-folder-without-runtime",
                                 "library-without-entry-point"])
def test_without_a_usable_runtime_the_box_shows_the_code_and_the_program_ends(app_folder, tmp_path, row):
    folder = app_folder(name="app")
    runtimes, env, code = refused_runtimes(tmp_path / "rt", folder)[row]
    r = Run(folder, tmp_path, [], runtimes=runtimes, env=env)
    try:
        answer_box("Tavrin")
        assert r.wait_end() == 0
    finally:
        if r.proc.poll() is None:
            r.proc.kill()
            r.proc.wait()
    assert r.standin() == []  # no client library ran
    log = r.log()
    last = -1
    for line in [f"桌面界面初始化失败 ({code})", "桌面窗口已关闭", "窗口关闭，正常退出"]:
        at = log.find(line)
        assert at > last, (line, log)
        last = at
    if code == "0x80070002":
        assert "未找到可用的 WebView2 运行时 (0x80070002)" in log


# ---- the control and the page -------------------------------------------------------------


def test_control_is_set_up_sized_and_navigated(run):
    r = run(["answer close-ready", 'message origin {"type":"ready"}', "close"])
    assert r.wait_end() == 0
    trace = r.standin()
    assert trace[0].startswith("create environment kind=0 check=1 data=Z:\\")
    assert trace[0].endswith("\\data\\desktop-profile options=0")
    for line in ["status bar 0", "context menus 1", "add WebMessageReceived", "add NavigationStarting",
                 "add NewWindowRequested", "visible 1", "string request-close", "controller close"]:
        assert line in trace, (line, trace)
    navigate = next(l for l in trace if l.startswith("navigate-to "))
    assert "/#token=" in navigate
    log = r.log()
    assert "桌面窗口已创建（1306x728）" in log  # 1380x900 capped to the 1366x768 screen
    assert log.count(READY) == 1
    assert log.index("桌面窗口已关闭") < log.index("窗口关闭，正常退出")


def origin_of(r: Run) -> str:
    return "http://" + (r.folder / "data" / "session.txt").read_text("utf-8").split("/")[2]


def test_navigation_off_the_origin_is_cancelled_and_popups_dropped(run):
    r = run(["navigate ORIGIN/", "navigate ORIGIN", "navigate ORIGIN/#token=x", "navigate ORIGIN/api/state",
             "navigate ORIGIN1/", "navigate http://localhost:PORT/", "navigate https://example.com/",
             "navigate ORIGIN.evil.example/", "popup ORIGIN/other", "popup https://example.com/"])
    r.wait_for(lambda: any(l.startswith("popup https://example.com/") for l in r.standin()), "the page steps")
    origin = origin_of(r)
    port = origin.rsplit(":", 1)[1]
    assert r.stop() == 0
    results = {l.rsplit(" ", 1)[0]: l.rsplit(" ", 1)[1] for l in r.standin() if l.startswith(("navigate ", "popup "))}
    assert results == {
        f"navigate {origin}/": "cancel=0", f"navigate {origin}": "cancel=0",
        f"navigate {origin}/#token=x": "cancel=0", f"navigate {origin}/api/state": "cancel=0",
        f"navigate {origin}1/": "cancel=1",  # a port that merely begins with ours
        f"navigate http://localhost:{port}/": "cancel=1", "navigate https://example.com/": "cancel=1",
        f"navigate {origin}.evil.example/": "cancel=1",
        f"popup {origin}/other": "handled=1", "popup https://example.com/": "handled=1",
    }


def test_messages_from_elsewhere_or_of_other_shapes_are_ignored(run):
    r = run([
        'message http://127.0.0.1:1/ {"type":"ready"}',
        'message http://localhost:PORT/ {"type":"close-ready"}',
        'message ORIGIN1/ {"type":"close-ready"}',
        'message https://example.com/ {"type":"close-ready"}',
        'message ORIGIN/ "close-ready"',
        'message ORIGIN/ ["close-ready"]',
        'message ORIGIN/ {"type":"CLOSE-READY"}',
        'message ORIGIN/ {"type":"close-ready"',
        'message ORIGIN/ {"kind":"close-ready"}',
        'message ORIGIN/ {"type":"ready"}',
        'message ORIGIN/ {"type":"close-cancel"}',  # no close pending: only clears the flag
        'navigate ORIGIN/done',
    ])
    r.wait_for(lambda: any(l.startswith("navigate http") and l.endswith("/done cancel=0") for l in r.standin()),
               "the page steps")
    assert r.proc.poll() is None  # none of the close-ready messages counted
    assert r.stop() == 0
    assert r.log().count(READY) == 1


# ---- close protocol --------------------------------------------------------------------------


def test_close_before_ready_closes_at_once(run):
    r = run(["answer close-cancel", "close"])
    assert r.wait_end() == 0
    assert "string request-close" not in r.standin()


def test_close_cancel_keeps_the_window_and_the_next_close_asks_again(run):
    r = run(["answer close-cancel", 'message ORIGIN/ {"type":"ready"}', "close", "navigate ORIGIN/a", "close",
             "navigate ORIGIN/b"])
    r.wait_for(lambda: any(l.endswith("/b cancel=0") for l in r.standin()), "the page steps")
    assert r.proc.poll() is None
    assert r.standin().count("string request-close") == 2
    assert r.stop() == 0  # the stop signal closes it without asking the page
    assert r.standin().count("string request-close") == 2
    assert "收到 --stop：已通知正在运行的程序退出" in r.log()


def test_a_silent_page_gets_the_question_and_yes_closes(run):
    r = run(["answer none", "boxes yes", 'message ORIGIN/ {"type":"ready"}', "close", "close"])
    asked = time.monotonic()
    r.wait_for(lambda: any(l.startswith("box ") for l in r.standin()), "the question", timeout=TIMEOUT)
    assert time.monotonic() - asked > 9.5
    assert r.wait_end() == 0
    trace = r.standin()
    assert trace.count("string request-close") == 1  # the second close while pending changed nothing
    assert [l for l in trace if l.startswith("box ")] == ["box Tavrin: 界面暂未响应。仍然关闭？最近尚未保存的编辑可能丢失。"]


def test_a_silent_page_and_no_keeps_the_window(run):
    r = run(["answer none", "boxes no", 'message ORIGIN/ {"type":"ready"}', "close"])
    r.wait_for(lambda: any(l.startswith("box ") for l in r.standin()), "the question", timeout=TIMEOUT)
    time_after = time.monotonic() + 2
    while time.monotonic() < time_after:
        assert r.proc.poll() is None
        time.sleep(0.2)
    assert r.stop() == 0


# ---- export ----------------------------------------------------------------------------------

EXPORT_BYTES = bytes(range(256)) + "#include <stdio.h>\r\n/* 中文 */\n".encode("utf-8")


def b64(data: bytes) -> str:
    return base64.b64encode(data).decode("ascii")


def save(id_, name, data):
    fields = ([f'"id":{id_}'] if id_ is not None else []) + ([f'"name":"{name}"'] if name is not None else []) + \
        ([f'"data":"{data}"'] if data is not None else [])
    return 'message ORIGIN/ {"type":"save",' + ",".join(fields) + "}"


def reply(id_, ok, cancelled, message):
    return ('json {"type":"file-saved","id":%d,"ok":%s,"cancelled":%s,"message":"%s"}'
            % (id_, "true" if ok else "false", "true" if cancelled else "false", message))


def test_export_answers_every_invalid_request(run):
    r = run([
        'message ORIGIN/ {"type":"ready"}',
        save(11, "a.c", None), save(12, None, b64(b"x")), save(13, "a/b.c", b64(b"x")), save(14, "a:b.c", b64(b"x")),
        save(15, 'a\\"b.c', b64(b"x")), save(16, "x" * 99 + ".c", b64(b"x")), save(17, "a.c", "not base64"),
        save(None, "a.c", "!"),
        'message ORIGIN/ {"type":"save","id":19',  # not JSON: no answer at all
        "navigate ORIGIN/done",
    ])
    r.wait_for(lambda: any(l.endswith("/done cancel=0") for l in r.standin()), "the page steps")
    assert r.stop() == 0
    answers = [l for l in r.standin() if l.startswith("json ")]
    invalid = "导出内容无效或过大。"
    assert answers == [reply(i, False, False, invalid) for i in (11, 12, 13, 14, 15, 16, 17, 0)]


def test_export_cancelled_and_saved_through_the_dialog(run, tmp_path):
    target = tmp_path / "picked" / "exported"
    target.parent.mkdir()
    r = run(["dialog save " + wine_path(target), 'message ORIGIN/ {"type":"ready"}',
             save(21, "main.c", b64(EXPORT_BYTES))])
    r.wait_for(lambda: any(l.startswith("json ") for l in r.standin()), "the answer")
    assert (r.folder / "我的代码").is_dir()
    assert [l for l in r.standin() if l.startswith("json ")] == [reply(21, True, False, "文件已保存到你选择的位置。")]
    # the dialog appends the default extension to a name typed without one
    assert (target.parent / "exported.c").read_bytes() == EXPORT_BYTES
    assert r.stop() == 0

    r = run(["dialog cancel", 'message ORIGIN/ {"type":"ready"}', save(22, "bank.json.txt", b64(b"{}"))], name="app2")
    r.wait_for(lambda: any(l.startswith("json ") for l in r.standin()), "the answer")
    assert (r.folder / "题库更新").is_dir()
    assert [l for l in r.standin() if l.startswith("json ")] == [reply(22, False, True, "文件未保存。")]
    assert r.stop() == 0


def test_a_second_start_finds_the_window_and_ends(run):
    r = run(['message ORIGIN/ {"type":"ready"}'])
    r.wait_for(lambda: READY in r.log(), "the page's ready")
    env = dict(tv.program_env(display=True))
    second = subprocess.run(tv.command(r.folder), cwd=r.folder, capture_output=True, timeout=TIMEOUT,
                            stdin=subprocess.DEVNULL, env=env)
    assert second.returncode == 0
    log = r.log()
    assert "已有程序在运行，本次只打开已有窗口" in log
    assert log.count("桌面窗口已创建") == 1  # the running window was found, no second one made
    assert r.proc.poll() is None
    assert r.stop() == 0
