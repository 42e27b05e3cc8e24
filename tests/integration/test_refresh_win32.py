"""--refresh-icons and --refresh-icons-in on Windows, under Wine, through the real
Tavrin.exe. Shell links are made and read back with IShellLinkW by a helper built
from tests/shortcuts (build/windows/tools/lnktool.exe). The suite has a Wine prefix of
its own whose user's desktop, Start menu and application data folders point into
the test's temporary folder."""
from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

import pytest

import tavrin as tv

pytestmark = pytest.mark.skipif(not tv.WINDOWS, reason="shell links are the Windows side")

BUILD = Path(os.environ.get("TAVRIN_BUILD", tv.ROOT / "build" / "windows"))
LNKTOOL = BUILD / "tools" / "lnktool.exe"
DOCS = ["安装与更新说明.md", "云端账号使用说明.md", "使用说明.md"]
BRAND_ID = "Qy9.Tavrin"
PINNED = Path("Microsoft/Internet Explorer/Quick Launch/User Pinned/TaskBar")
TIMEOUT = 180
UNDER_WINE = True  # tavrin.command runs Tavrin.exe through scripts/wine-run.sh


def win(path) -> str:
    return "Z:" + str(path).replace("/", "\\")


def fnv1a(windows_path: str) -> str:
    """Backup name: FNV-1a over the path's UTF-16 code units, worked out apart from the program."""
    h = 2166136261
    data = windows_path.encode("utf-16-le")
    for i in range(0, len(data), 2):
        h ^= data[i] | data[i + 1] << 8
        h = h * 16777619 & 0xFFFFFFFF
    return "%08x.lnk" % h


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    """A Wine prefix of the suite's own (copies of the usual prefix's registry, its drive C
    shared), so that redirecting the user's shell folders touches no other suite."""
    shared = Path(os.environ.get("TAVRIN_WINEPREFIX", Path.home() / ".wine-tavrin"))
    own = tmp_path_factory.mktemp("wine") / "prefix"
    own.mkdir()
    for name in ("system.reg", "user.reg", "userdef.reg"):
        shutil.copy(shared / name, own / name)
    (own / "drive_c").symlink_to(shared / "drive_c")
    shutil.copytree(shared / "dosdevices", own / "dosdevices", symlinks=True)
    for name in (".update-timestamp",):
        if (shared / name).exists():
            shutil.copy(shared / name, own / name)
    yield own
    subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=str(own)), timeout=60)


class Profile:
    """The user's desktop, Start menu and application data folders, and a program folder."""

    def __init__(self, root: Path, app: Path, prefix: Path):
        self.root, self.app, self.prefix = root, app, prefix
        self.desktop = root / "Desktop"
        self.programs = root / "Start Menu" / "Programs"
        self.appdata = root / "AppData"
        self.pinned = self.appdata / PINNED
        for d in (self.desktop, self.programs, self.pinned):
            d.mkdir(parents=True)
        for doc in DOCS:
            (app / doc).write_text("# doc\n", "utf-8")
        (app / "unins000.exe").write_bytes(b"MZ")
        self.exe = win(app / "Tavrin.exe")
        self.icon = win(app / "Tavrin-brand.ico")
        self.tool(["folders", win(self.desktop), win(self.programs), win(self.appdata)])

    def env(self) -> dict:
        return dict(tv.program_env(), WINEPREFIX=str(self.prefix))

    def tool(self, lines: list[list[str]] | list[str]) -> list[list[str]]:
        if lines and isinstance(lines[0], str):
            lines = [lines]
        script = self.root / "lnktool.txt"
        script.write_text("".join("\t".join(line) + "\n" for line in lines), "utf-8")
        r = subprocess.run([str(tv.ROOT / "scripts" / "wine-run.sh"), str(LNKTOOL), win(script)],
                           capture_output=True, timeout=TIMEOUT, env=self.env())
        out = r.stdout.decode("utf-8").splitlines()
        assert r.returncode == 0, out
        return [line.split("\t") for line in out]

    def make(self, links: dict[Path, tuple[str, str]]):
        """links: path -> (target, arguments)."""
        self.tool([["make", win(p), target, args, "old description"] for p, (target, args) in links.items()])

    def read(self, *paths: Path) -> list[dict]:
        out = []
        for fields in self.tool([["read", win(p)] for p in paths]):
            assert fields[0] == "ok", fields
            target, args, description, icon, index, app_id = fields[1:]
            out.append(dict(target=target, args=args, description=description, icon=icon,
                            index=int(index), app_id=app_id))
        return out

    def run(self, *args) -> int:
        r = subprocess.run(tv.command(self.app, *args), cwd=self.app, capture_output=True,
                           timeout=TIMEOUT, stdin=subprocess.DEVNULL, env=self.env())
        assert not (self.app / "logs").exists(), "nothing is logged"
        return r.returncode

    def backups(self) -> dict:
        folder = self.app / "icon-link-backups"
        return {p.name: p.read_bytes() for p in folder.iterdir()} if folder.exists() else {}


@pytest.fixture
def profile(tmp_path, app_folder, prefix):
    return Profile(tmp_path / "profile", app_folder(), prefix)


def assert_branded(link: dict, profile: Profile, display: str, target: str, args: str):
    assert link["target"].lower() == target.lower()
    assert link["args"] == args, "arguments kept"
    assert link["description"] == display
    assert (link["icon"], link["index"]) == (profile.icon, 0)
    # Wine's shell links offer a property store but keep none of its values (the id reads
    # back empty), so the id, relaunch command and title are checked on Windows only.
    if not UNDER_WINE:
        assert link["app_id"] == BRAND_ID


# ---- everything, then once more --------------------------------------------------------

def test_refresh_icons_desktop_start_menu_and_pinned(profile):
    p, app = profile, profile.app
    elsewhere = profile.root / "elsewhere"
    elsewhere.mkdir()
    (elsewhere / DOCS[2]).write_text("not ours\n", "utf-8")
    mesk, tavrin = p.programs / "Mesk", p.programs / "Tavrin"
    mesk.mkdir()
    tavrin.mkdir()
    mesk_exe = win(app / "Mesk.exe")
    owned = {
        # old path: (target, arguments, new path, display)
        p.desktop / "my browser.lnk": (p.exe, "--browser", p.desktop / "Tavrin · 浏览器模式.lnk", "Tavrin · 浏览器模式"),
        p.desktop / "guide.lnk": (win(app / DOCS[2]), "", p.desktop / "Tavrin · 使用说明.lnk", "Tavrin · 使用说明"),
        mesk / "Mesk.lnk": (mesk_exe, "", tavrin / "Tavrin.lnk", "Tavrin"),
        mesk / "uninstall.lnk": (win(app / "unins000.exe"), "", tavrin / "卸载Tavrin.lnk", "卸载Tavrin"),
        tavrin / "account.lnk": (win(app / DOCS[1]), "", tavrin / "Tavrin · 账号与同步.lnk", "Tavrin · 账号与同步"),
        p.pinned / "Mesk.lnk": (mesk_exe, "--stop", p.pinned / "Mesk.lnk", "停止Tavrin"),
    }
    foreign = {
        p.desktop / "notes.lnk": ("C:\\windows\\notepad.exe", "x.txt"),
        p.desktop / "guide elsewhere.lnk": (win(elsewhere / DOCS[2]), ""),
        p.programs / "loose.lnk": (p.exe, ""),  # the Programs folder itself is not scanned
    }
    p.make({old: (t, a) for old, (t, a, _, _) in owned.items()} | foreign)
    (p.desktop / "broken.lnk").write_bytes(b"not a link")
    originals = {old: old.read_bytes() for old in owned}
    foreign_bytes = {f: f.read_bytes() for f in [*foreign, p.desktop / "broken.lnk"]}

    assert p.run("--refresh-icons") == 0

    for f, data in foreign_bytes.items():
        assert f.read_bytes() == data, f"{f.name} is not the program's"
    news = [new for _, _, new, _ in owned.values()]
    for old, new in zip(owned, news):
        assert new.exists() and (old == new or not old.exists()), f"{old.name} -> {new.name}"
    links = p.read(*news)
    for (old, (target, args, new, display)), link in zip(owned.items(), links):
        assert_branded(link, p, display, p.exe if target == mesk_exe else target, args)
    assert not mesk.exists(), "the emptied Mesk folder is removed"
    backups = p.backups()
    assert backups == {fnv1a(win(old)): data for old, data in originals.items()}

    # Once more: the links read the same, the first backups stay, and each renamed link
    # gets one more backup under its new path.
    assert p.run("--refresh-icons") == 0
    assert p.read(*news) == links
    after = p.backups()
    assert {k: v for k, v in after.items() if k in backups} == backups
    assert set(after) - set(backups) == {fnv1a(win(new)) for old, (_, _, new, _) in owned.items() if new != old}


def test_mesk_folder_with_other_files_stays(profile):
    mesk = profile.programs / "Mesk"
    mesk.mkdir()
    (mesk / "readme.txt").write_text("mine\n", "utf-8")
    profile.make({mesk / "old.lnk": (win(profile.app / "Mesk.exe"), "")})
    assert profile.run("--refresh-icons") == 0
    assert (mesk / "readme.txt").exists() and not (mesk / "old.lnk").exists()
    assert (profile.programs / "Tavrin" / "Tavrin.lnk").exists()


# ---- one folder ----------------------------------------------------------------------

def test_refresh_icons_in_clash_same_name_and_foreign_documents(profile):
    p = profile
    clash, twice = p.root / "clash", p.root / "同名 twice"  # a blank and CJK in the argument
    for d in (clash, twice):
        d.mkdir()
    p.make({
        clash / "Tavrin.lnk": ("C:\\windows\\notepad.exe", ""),
        clash / "old.lnk": (p.exe, ""),
        clash / "halt.lnk": (p.exe, "--stop"),
        twice / "a.lnk": (p.exe, "--no-browser"),
        twice / "b.lnk": (win(p.app / "Mesk.exe"), ""),
        twice / "doc.lnk": (win(p.root / DOCS[0]), ""),  # same name, another folder
    })
    before = {f: f.read_bytes() for f in [clash / "Tavrin.lnk", clash / "old.lnk", twice / "doc.lnk"]}
    originals = {f: f.read_bytes() for f in [twice / "a.lnk", twice / "b.lnk"]}

    assert p.run("--refresh-icons-in", win(clash)) == 4
    assert (clash / "Tavrin.lnk").read_bytes() == before[clash / "Tavrin.lnk"]
    assert (clash / "old.lnk").read_bytes() == before[clash / "old.lnk"], "kept its name and was not changed"
    assert fnv1a(win(clash / "old.lnk")) not in p.backups()
    [halt] = p.read(clash / "停止Tavrin.lnk")
    assert_branded(halt, p, "停止Tavrin", p.exe, "--stop")

    assert p.run("--refresh-icons-in", win(twice) + "\\") == 0
    assert sorted(f.name for f in twice.iterdir()) == ["Tavrin.lnk", "doc.lnk"]
    assert (twice / "doc.lnk").read_bytes() == before[twice / "doc.lnk"]
    [link] = p.read(twice / "Tavrin.lnk")
    assert link["target"].lower() == p.exe.lower() and link["description"] == "Tavrin"
    assert {fnv1a(win(f)): data for f, data in originals.items()}.items() <= p.backups().items()


def test_missing_icon_gives_2_and_wrong_arguments_give_1(profile):
    p = profile
    folder = p.root / "links"
    folder.mkdir()
    p.make({folder / "x.lnk": (p.exe, ""), p.desktop / "y.lnk": (p.exe, "")})
    before = {f: f.read_bytes() for f in [folder / "x.lnk", p.desktop / "y.lnk"]}

    for args in (["--refresh-icons-in"], ["--refresh-icons-in", win(folder), win(folder)],
                 ["--refresh-icons-in", win(folder / "missing")], ["--refresh-icons-in", win(folder / "x.lnk")]):
        assert p.run(*args) == 1, args
    (p.app / "Tavrin-brand.ico").unlink()
    assert p.run("--refresh-icons") == 2
    assert p.run("--refresh-icons-in", win(folder)) == 2
    assert {f: f.read_bytes() for f in before} == before
    assert p.backups() == {} and not (p.programs / "Tavrin").exists()
