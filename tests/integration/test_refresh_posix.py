"""--refresh-icons and --refresh-icons-in on Linux: the real tavrin repairs its own
desktop launchers in temporary XDG folders (desktop from xdg-user-dir, the
applications menu in $XDG_DATA_HOME) and leaves every other launcher as it was."""
from __future__ import annotations

import configparser
import os
import stat
import subprocess
from pathlib import Path

import pytest

import tavrin as tv

pytestmark = pytest.mark.skipif(tv.WINDOWS, reason="desktop launchers are the Linux side")

DOCS = ["安装与更新说明.md", "云端账号使用说明.md", "使用说明.md"]
BRAND_ID = "Qy9.Tavrin"


def fnv1a(path) -> str:
    """Backup name: FNV-1a over the path's UTF-16 code units, worked out apart from the program."""
    h = 2166136261
    data = str(path).encode("utf-16-le")
    for i in range(0, len(data), 2):
        h ^= data[i] | data[i + 1] << 8
        h = h * 16777619 & 0xFFFFFFFF
    return "%08x.desktop" % h


def entry(exec_line, name="Something", extra="") -> str:
    return f"[Desktop Entry]\nType=Application\nName={name}\nExec={exec_line}\n{extra}"


def keys(path: Path) -> dict:
    p = configparser.RawConfigParser(strict=True, interpolation=None)
    p.optionxform = str
    p.read_string(path.read_text("utf-8"))
    return dict(p["Desktop Entry"])


class Profile:
    """A user's XDG folders and a copy of the program, all under tmp_path."""

    def __init__(self, tmp_path: Path, app: Path):
        self.app = app
        self.exe = app / "tavrin"
        self.home = tmp_path / "home"
        self.desktop = self.home / "Desktop"
        self.config = tmp_path / "config"
        self.data = tmp_path / "data"
        self.apps = self.data / "applications"
        for d in (self.desktop, self.config, self.apps):
            d.mkdir(parents=True)
        (self.config / "user-dirs.dirs").write_text('XDG_DESKTOP_DIR="$HOME/Desktop"\n', "utf-8")
        for doc in DOCS:
            (app / doc).write_text("# doc\n", "utf-8")
        (app / "unins000").write_text("#!/bin/sh\n", "utf-8")
        self.path = os.environ.get("PATH", "/usr/bin:/bin")

    def env(self) -> dict:
        env = tv.program_env()
        env.update(HOME=str(self.home), XDG_CONFIG_HOME=str(self.config), XDG_DATA_HOME=str(self.data),
                   PATH=self.path)
        return env

    def run(self, *args) -> subprocess.CompletedProcess:
        r = subprocess.run([str(self.exe), *map(str, args)], cwd=self.app, capture_output=True,
                           timeout=60, stdin=subprocess.DEVNULL, env=self.env())
        assert r.stdout == b"" and r.stderr == b"", "nothing is shown"
        assert not (self.app / "logs").exists(), "nothing is logged"
        return r

    def backups(self) -> dict:
        folder = self.app / "icon-link-backups"
        return {p.name: p.read_bytes() for p in folder.iterdir()} if folder.exists() else {}


@pytest.fixture
def profile(tmp_path, app_folder):
    return Profile(tmp_path, app_folder())


def snapshot(*folders) -> dict:
    out = {}
    for folder in folders:
        for p in sorted(Path(folder).rglob("*")):
            if p.is_file():
                st = p.stat()
                out[p] = (p.read_bytes(), st.st_mtime_ns, stat.S_IMODE(st.st_mode))
    return out


# ---- the whole refresh, then once more ---------------------------------------------------

def test_refresh_icons_repairs_own_launchers_and_a_second_run_changes_nothing(profile):
    exe, app = profile.exe, profile.app
    other_docs = profile.home / "elsewhere"
    other_docs.mkdir()
    (other_docs / DOCS[2]).write_text("not ours\n", "utf-8")
    mesk = profile.apps / "Mesk"
    mesk.mkdir()
    launchers = {
        # path: (text, expected new path or None for foreign)
        profile.desktop / "my browser.desktop": (
            "[Desktop Entry]\n# the learner's own launcher\nType=Application\nName=我的浏览器\n"
            f"Name[de]=Mein Browser\nExec=\"{exe}\" --browser %U\nX-Custom=keep me\n",
            profile.desktop / "Tavrin · 浏览器模式.desktop"),
        profile.desktop / "halt.desktop": (entry(f"{exe} --stop"), profile.desktop / "停止Tavrin.desktop"),
        profile.desktop / "guide.desktop": (entry(f"xdg-open \"{app / DOCS[2]}\""),
                                            profile.desktop / "Tavrin · 使用说明.desktop"),
        profile.desktop / "account.desktop": (entry(f"/usr/bin/xdg-open {(app / DOCS[1]).as_uri()}"),
                                              profile.desktop / "Tavrin · 账号与同步.desktop"),
        profile.desktop / "other.desktop": (entry("/usr/bin/gedit %F", "Editor", "Icon=gedit\n"), None),
        profile.desktop / "foreign guide.desktop": (entry(f"xdg-open \"{other_docs / DOCS[2]}\""), None),
        profile.desktop / "binary.desktop": ("\x00\xff garbage", None),
        profile.desktop / "not-a-launcher.txt": (entry(str(exe)), None),
        profile.apps / "setup.desktop": (entry(f"xdg-open '{app / DOCS[0]}'"),
                                         profile.apps / "Tavrin · 安装与更新说明.desktop"),
        mesk / "mesk.desktop": (entry(f"{app / 'Mesk'} --flag", "Mesk", f"TryExec={app / 'Mesk'}\nIcon=mesk\n"),
                                profile.apps / "Tavrin" / "Tavrin.desktop"),
        mesk / "remove mesk.desktop": (entry(str(app / "unins000")), profile.apps / "Tavrin" / "卸载Tavrin.desktop"),
    }
    for path, (text, _) in launchers.items():
        path.write_bytes(text.encode("latin-1") if "\x00" in text else text.encode("utf-8"))
    (profile.desktop / "my browser.desktop").chmod(0o755)
    foreign_before = snapshot(profile.desktop)

    assert profile.run("--refresh-icons").returncode == 0

    for old, (text, new) in launchers.items():
        if new is None:
            assert old.read_bytes() == foreign_before[old][0], f"{old.name} is not the program's"
            assert old.stat().st_mtime_ns == foreign_before[old][1]
            continue
        assert not old.exists() and new.exists(), f"{old.name} -> {new.name}"
        k = keys(new)
        display = new.name[:-len(".desktop")]
        assert k["Name"] == display and k["Comment"] == display
        assert k["Icon"] == str(app / "Tavrin-brand.png")
        assert k["StartupWMClass"] == BRAND_ID
        assert profile.backups()[fnv1a(old)] == text.encode("utf-8"), "backup holds the launcher as it was"

    browser = profile.desktop / "Tavrin · 浏览器模式.desktop"
    text = browser.read_text("utf-8")
    k = keys(browser)
    assert k["Exec"] == f"\"{exe}\" --browser %U", "arguments kept"
    assert k["Name[de]"] == "Mein Browser" and k["X-Custom"] == "keep me"
    assert "# the learner's own launcher" in text
    assert stat.S_IMODE(browser.stat().st_mode) == 0o755, "an executable launcher stays executable"

    moved = keys(profile.apps / "Tavrin" / "Tavrin.desktop")
    assert moved["Exec"] == f"{exe} --flag", "Mesk is pointed at the running executable"
    assert moved["TryExec"] == str(exe)
    assert not mesk.exists(), "the emptied Mesk folder is removed"
    assert len(profile.backups()) == sum(1 for _, new in launchers.values() if new)

    # Once more: no launcher changes; the first backups stay; renamed launchers get one more
    # backup under their new path.
    before = snapshot(profile.desktop, profile.apps)
    backups = profile.backups()
    assert profile.run("--refresh-icons").returncode == 0
    assert snapshot(profile.desktop, profile.apps) == before
    after = profile.backups()
    assert {k: v for k, v in after.items() if k in backups} == backups
    assert set(after) - set(backups) == {fnv1a(new) for _, new in launchers.values() if new}


def test_mesk_folder_with_other_files_stays_and_tavrin_folder_is_made(profile):
    mesk = profile.apps / "Mesk"
    mesk.mkdir()
    (mesk / "readme.txt").write_text("mine\n", "utf-8")
    (mesk / "old.desktop").write_text(entry(str(profile.app / "Mesk")), "utf-8")
    assert profile.run("--refresh-icons").returncode == 0
    assert (mesk / "readme.txt").exists() and not (mesk / "old.desktop").exists()
    assert (profile.apps / "Tavrin" / "Tavrin.desktop").exists()


def test_tavrin_folder_is_made_even_when_nothing_moves(profile):
    assert profile.run("--refresh-icons").returncode == 0
    assert (profile.apps / "Tavrin").is_dir()
    assert profile.backups() == {}


def test_menu_cache_tool_is_run_on_the_applications_folder(profile, tmp_path):
    tools = tmp_path / "tools"
    tools.mkdir()
    record = tmp_path / "called.txt"
    tool = tools / "update-desktop-database"
    tool.write_text(f"#!/bin/sh\nprintf '%s\\n' \"$@\" > '{record}'\n", "utf-8")
    tool.chmod(0o755)
    profile.path = f"{tools}:{profile.path}"
    assert profile.run("--refresh-icons").returncode == 0
    assert record.read_text("utf-8").split("\n")[-2] == str(profile.apps)
    record.unlink()
    assert profile.run("--refresh-icons-in", profile.desktop).returncode == 0
    assert not record.exists(), "not for one given folder"


# ---- one folder ----------------------------------------------------------------------

def test_refresh_icons_in_given_folder_only(profile, tmp_path):
    folder = tmp_path / "launchers"
    folder.mkdir()
    (folder / "start it.desktop").write_text(entry(str(profile.exe)), "utf-8")
    (profile.desktop / "untouched.desktop").write_text(entry(str(profile.exe)), "utf-8")
    assert profile.run("--refresh-icons-in", str(folder) + "/").returncode == 0
    assert [p.name for p in folder.iterdir()] == ["Tavrin.desktop"]
    assert (profile.desktop / "untouched.desktop").exists()
    assert list(profile.backups()) == [fnv1a(folder / "start it.desktop")]


def test_foreign_launcher_holding_the_name_makes_4(profile, tmp_path):
    folder = tmp_path / "launchers"
    folder.mkdir()
    foreign = entry("/usr/bin/firefox", "Tavrin")
    ours = entry(str(profile.exe), "Old name")
    (folder / "Tavrin.desktop").write_text(foreign, "utf-8")
    (folder / "old.desktop").write_text(ours, "utf-8")
    (folder / "stop.desktop").write_text(entry(f"{profile.exe} --stop"), "utf-8")
    assert profile.run("--refresh-icons-in", folder).returncode == 4
    assert (folder / "Tavrin.desktop").read_text("utf-8") == foreign
    assert (folder / "old.desktop").read_text("utf-8") == ours, "kept its name and was not changed"
    assert keys(folder / "停止Tavrin.desktop")["Name"] == "停止Tavrin", "the others are still done"
    assert fnv1a(folder / "old.desktop") not in profile.backups()


def test_special_files_are_skipped_and_hold_no_name(profile, tmp_path):
    folder = tmp_path / "launchers"
    folder.mkdir()
    os.mkfifo(folder / "pipe.desktop")
    os.mkfifo(folder / "Tavrin.desktop")
    (folder / "dir.desktop").mkdir()
    (folder / "huge.desktop").write_text(entry(str(profile.exe)) + "X-Pad=" + "x" * (2 << 20) + "\n", "utf-8")
    (folder / "old.desktop").write_text(entry(str(profile.exe)), "utf-8")
    (folder / "stop.desktop").write_text(entry(f"{profile.exe} --stop"), "utf-8")
    assert profile.run("--refresh-icons-in", folder).returncode == 4, "a pipe holding the name counts"
    assert (folder / "old.desktop").exists() and (folder / "huge.desktop").exists()
    assert (folder / "停止Tavrin.desktop").exists()


def test_same_name_twice_later_wins_and_both_are_backed_up(profile, tmp_path):
    folder = tmp_path / "launchers"
    folder.mkdir()
    texts = {"a.desktop": entry(str(profile.exe), "A"), "b.desktop": entry(str(profile.app / "Mesk"), "B")}
    for name, text in texts.items():
        (folder / name).write_text(text, "utf-8")
    assert profile.run("--refresh-icons-in", folder).returncode == 0
    assert [p.name for p in folder.iterdir()] == ["Tavrin.desktop"]
    assert keys(folder / "Tavrin.desktop")["Exec"] == str(profile.exe)
    assert {fnv1a(folder / n): t.encode() for n, t in texts.items()}.items() <= profile.backups().items()


def test_backup_is_never_overwritten(profile, tmp_path):
    folder = tmp_path / "launchers"
    folder.mkdir()
    launcher = folder / "Tavrin.desktop"
    first = entry(str(profile.exe), "First")
    launcher.write_text(first, "utf-8")
    assert profile.run("--refresh-icons-in", folder).returncode == 0
    launcher.write_text(entry(str(profile.exe), "Edited later"), "utf-8")
    assert profile.run("--refresh-icons-in", folder).returncode == 0
    assert profile.backups() == {fnv1a(launcher): first.encode()}
    assert keys(launcher)["Name"] == "Tavrin"


@pytest.mark.parametrize("args", [
    ["--refresh-icons"],
    ["--refresh-icons-in", "{folder}"],
])
def test_missing_icon_gives_2_and_changes_nothing(profile, tmp_path, args):
    folder = tmp_path / "launchers"
    folder.mkdir()
    (folder / "x.desktop").write_text(entry(str(profile.exe)), "utf-8")
    (profile.desktop / "y.desktop").write_text(entry(str(profile.exe)), "utf-8")
    (profile.app / "Tavrin-brand.png").unlink()
    before = snapshot(folder, profile.desktop, profile.apps)
    assert profile.run(*[a.format(folder=folder) for a in args]).returncode == 2
    assert snapshot(folder, profile.desktop, profile.apps) == before
    assert not (profile.apps / "Tavrin").exists() and profile.backups() == {}


@pytest.mark.parametrize("args", [
    ["--refresh-icons-in"],
    ["--refresh-icons-in", "{folder}", "{folder}"],
    ["--refresh-icons-in", "{folder}/missing"],
    ["--refresh-icons-in", "{folder}/x.desktop"],
    ["--refresh-icons-in", ""],
])
def test_bad_folder_arguments_give_1(profile, tmp_path, args):
    folder = tmp_path / "launchers"
    folder.mkdir()
    (folder / "x.desktop").write_text(entry(str(profile.exe)), "utf-8")
    assert profile.run(*[a.format(folder=folder) for a in args]).returncode == 1
    assert (folder / "x.desktop").exists() and profile.backups() == {}


def test_folder_with_blanks_is_one_argument(profile, tmp_path):
    folder = tmp_path / "my launchers"
    folder.mkdir()
    (folder / "x.desktop").write_text(entry(f"'{profile.exe}' --browser"), "utf-8")
    assert profile.run("--refresh-icons-in", folder).returncode == 0
    assert (folder / "Tavrin · 浏览器模式.desktop").exists()


def test_program_path_with_reserved_characters_is_quoted_for_exec(tmp_path):
    app = tv.copy_app(tmp_path / "odd $dir")
    p = Profile(tmp_path / "p", app)
    folder = tmp_path / "launchers"
    folder.mkdir()
    (folder / "x.desktop").write_text(entry(f"\"{app}/Mesk\" --stop"), "utf-8")
    assert p.run("--refresh-icons-in", folder).returncode == 0
    assert keys(folder / "停止Tavrin.desktop")["Exec"] == f"\"{str(app).replace('$', 2 * chr(92) + '$')}/tavrin\" --stop"
