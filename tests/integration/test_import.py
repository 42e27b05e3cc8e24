"""`tavrin --import-bank <file>` run as the real executable in a copy of the program folder.

Each scenario checks the exit code, the import's own log lines, the bytes of data/bank.json,
the backup and restamp.ids. On the windows lane the program runs under Wine and gets Windows
paths (Z:\\...).
"""
import datetime
import json
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

LANE = os.environ.get("TAVRIN_LANE", "linux")
APP = Path(os.environ["TAVRIN_APP"])
EXE_NAME = Path(os.environ["TAVRIN_EXE"]).name
REPO = Path(__file__).resolve().parents[2]
WINE_RUN = REPO / "scripts" / "wine-run.sh"
TIMEOUT = 180 if LANE == "windows" else 60

OLD_RESTAMP = b"left-from-before\n"


# ---------------------------------------------------------------------------------------------
# Banks


def question(qid, tests=None, compare="tokens", **extra):
    """A valid question; extra members are added or replace the defaults."""
    q = {
        "id": qid,
        "topic": 2,
        "stars": 1,
        "compare": compare,
        "title": "题目 " + qid,
        "scenario": "情境",
        "task": "要求",
        "input": "输入",
        "output": "输出",
        "constraints": "范围",
        "starter": "int main(void){return 0;}\n",
        "reference": "int main(void){return 0;}\n",
        "samples": [{"input": "1\n", "output": "2\n"}],
        "tests": tests if tests is not None else [
            {"input": f"{i}\n", "output": f"{2 * i}\n"} for i in range(3)],
    }
    q.update(extra)
    return q


def raw(q):
    """The question as the author wrote it: odd layout and escapes an importer must keep."""
    text = json.dumps(q, ensure_ascii=False, indent=3)
    return text[:-1] + ',  "note" : "\\u4e2d\\/\\t"\n}'


def bank_text(raws, title="练习题库", revision="2024-1", head=None):
    if head is None:
        head = ['"version": 1']
        if title is not None:
            head.append('"title": ' + json.dumps(title, ensure_ascii=False))
        if revision is not None:
            head.append('"revision": ' + json.dumps(revision, ensure_ascii=False))
    return ("{\n  " + ",\n  ".join(head) + ',\n  "questions": [\n' + ",\n".join(raws) +
            "\n  ]\n}\n")


def merged_text(raws, title="练习题库", revision="2024-1"):
    return ('{"version":1,"title":' + json.dumps(title, ensure_ascii=False) + ',"revision":' +
            json.dumps(revision, ensure_ascii=False) + ',"questions":[' + ",".join(raws) + "]}")


# ---------------------------------------------------------------------------------------------
# Program folder and runs


@pytest.fixture
def app(tmp_path):
    folder = tmp_path / "app"
    shutil.copytree(APP, folder)
    shutil.rmtree(folder / "logs", ignore_errors=True)
    return folder


def arg_path(p):
    """A path as the program on this lane is given it."""
    p = str(p)
    if LANE == "windows" and p.startswith("/"):
        return "Z:" + p.replace("/", "\\")
    return p


def run_import(app, *args, cwd=None):
    exe = app / EXE_NAME
    cmd = ([str(WINE_RUN), str(exe)] if LANE == "windows" else [str(exe)]) + list(args)
    done = subprocess.run(cmd, cwd=cwd or app, timeout=TIMEOUT, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return done.returncode


def import_lines(app):
    """(level, text) of every log line the import wrote."""
    lines = []
    for f in sorted((app / "logs").glob("Tavrin-*.log")):
        for line in f.read_text(encoding="utf-8-sig").splitlines():
            m = re.match(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[([IWE])\] (--import-bank .*)$",
                         line)
            if m:
                lines.append((m.group(1), m.group(2)))
    return lines


def data_files(app):
    return sorted(p.name for p in (app / "data").iterdir())


def backups(app):
    return sorted((app / "data").glob("bank-backup-*.json"))


def install(app, text):
    path = app / "data" / "bank.json"
    if text is None:
        path.unlink()
    else:
        path.write_bytes(text.encode("utf-8") if isinstance(text, str) else text)
    return path


def updated_line(package_bytes, merged):
    return ("I", f"--import-bank 题库已更新（题库包 {package_bytes} 字节，"
                 f"合并后 {len(merged.encode('utf-8'))} 字节）")


RESTAMP_LINE = ("I", "--import-bank 已记录判题依据未变的题目，供重贴通过标记")

# ---------------------------------------------------------------------------------------------
# Successful imports


def changed_tests(n=3, bump=0):
    return [{"input": f"{i}\n", "output": f"{2 * i + bump}\n"} for i in range(n)]


A, B, C, D = (question(x) for x in ("a", "b", "c", "d"))

# name, installed raws (None: no bank.json), package raws, package head, expected merged raws,
# expected title and revision, expected restamp.ids (None: none written)
SUCCESS = [
    ("no installed bank", None, [raw(A), raw(B)], {}, [raw(A), raw(B)],
     ("练习题库", "2024-1"), None),
    ("kept and replaced questions",
     [raw(A), raw(B), raw(C)],
     [raw(question("c", title="新标题")), raw(D)], {},
     [raw(question("c", title="新标题")), raw(D), raw(A), raw(B)],
     ("练习题库", "2024-1"), "c\na\nb\n"),
    ("restamp rules",
     [raw(question("same")), raw(question("cmp")), raw(question("count")),
      raw(question("inp")), raw(question("out")), raw(question("kept"))],
     [raw(question("same", title="只改了标题", stars=5)),
      raw(question("cmp", compare="float")),
      raw(question("count", tests=changed_tests(4))),
      raw(question("inp", tests=[{"input": "0 \n", "output": "0\n"}] + changed_tests()[1:])),
      raw(question("out", tests=changed_tests(bump=1))),
      raw(question("brand-new"))], {},
     [raw(question("same", title="只改了标题", stars=5)),
      raw(question("cmp", compare="float")),
      raw(question("count", tests=changed_tests(4))),
      raw(question("inp", tests=[{"input": "0 \n", "output": "0\n"}] + changed_tests()[1:])),
      raw(question("out", tests=changed_tests(bump=1))),
      raw(question("brand-new")),
      raw(question("kept"))],
     ("练习题库", "2024-1"), "same\nkept\n"),
    ("no title, numeric revision", None, [raw(A)],
     {"title": None, "head": ['"revision": 7', '"version": 1', '"extra": {"title": "x"}']},
     [raw(A)], ("Tavrin", ""), None),
    ("title with quotes and backslash", [raw(B)], [raw(A)],
     {"title": '题库 "二" \\ 版', "revision": "r\\2"}, [raw(A), raw(B)],
     ('题库 "二" \\ 版', "r\\2"), "b\n"),
]


@pytest.mark.parametrize("name,installed,package,head,merged,title_rev,restamp", SUCCESS,
                         ids=[s[0] for s in SUCCESS])
def test_import_succeeds(app, tmp_path, name, installed, package, head, merged, title_rev,
                         restamp):
    old_bank = None
    if installed is None:
        install(app, None)
    else:
        old_bank = install(app, bank_text(installed)).read_bytes()
    (app / "data" / "restamp.ids").write_bytes(OLD_RESTAMP)
    pkg = tmp_path / "pkg.json"
    head = dict(head)
    pkg_text = bank_text(package, **head)
    pkg.write_bytes(pkg_text.encode("utf-8"))

    assert run_import(app, "--import-bank", arg_path(pkg)) == 0

    expected = merged_text(merged, *title_rev)
    assert (app / "data" / "bank.json").read_bytes() == expected.encode("utf-8")
    made = backups(app)
    restamp_path = app / "data" / "restamp.ids"
    if installed is None:
        assert made == []
        assert restamp_path.read_bytes() == OLD_RESTAMP, "no installed bank: old list stays"
        assert import_lines(app) == [updated_line(len(pkg_text.encode()), expected)]
    else:
        assert len(made) == 1 and made[0].read_bytes() == old_bank
        assert restamp_path.read_bytes() == restamp.encode()
        assert import_lines(app) == [RESTAMP_LINE, updated_line(len(pkg_text.encode()), expected)]
    assert not [f for f in data_files(app) if f.endswith(".tmp")]


def test_package_with_bom_is_measured_without_it(app, tmp_path):
    install(app, None)
    text = bank_text([raw(A)])
    pkg = tmp_path / "bom.json"
    pkg.write_bytes(b"\xef\xbb\xbf" + text.encode())
    assert run_import(app, "--import-bank", arg_path(pkg)) == 0
    expected = merged_text([raw(A)])
    assert (app / "data" / "bank.json").read_text(encoding="utf-8") == expected
    assert import_lines(app) == [updated_line(len(text.encode()), expected)]


def test_same_import_twice_keeps_everything_and_lists_it(app, tmp_path):
    install(app, bank_text([raw(A), raw(question("x", compare="float")), raw(B)]))
    pkg = tmp_path / "pkg.json"
    pkg.write_text(bank_text([raw(question("b", tests=changed_tests(bump=3))), raw(C)]),
                   encoding="utf-8")
    assert run_import(app, "--import-bank", arg_path(pkg)) == 0
    first = (app / "data" / "bank.json").read_bytes()
    assert (app / "data" / "restamp.ids").read_bytes() == b"a\nx\n"

    assert run_import(app, "--import-bank", arg_path(pkg)) == 0
    assert (app / "data" / "bank.json").read_bytes() == first
    made = backups(app)
    assert len(made) == 2 and made[1].read_bytes() == first
    # A valid bank's questions all have tests and a compare string: every one is listed.
    assert (app / "data" / "restamp.ids").read_bytes() == b"b\nc\na\nx\n"


# ---------------------------------------------------------------------------------------------
# Failures: exit 1, one error line, and the installed bank byte for byte as it was


def too_many(prefix, n):
    return [raw(question(f"{prefix}{i}")) for i in range(n)]


BIG_PAD = 4194304  # the read limit


def failing_cases(tmp_path):
    valid_pkg = bank_text([raw(A)])
    return {
        "package missing": (bank_text([raw(B)]), None, "--import-bank 读不到文件: {pkg}"),
        "package over the size limit": (
            bank_text([raw(B)]), valid_pkg + " " * (BIG_PAD - len(valid_pkg.encode()) + 1),
            "--import-bank 读不到文件: {pkg}"),
        "package not JSON": (bank_text([raw(B)]), valid_pkg[:-3],
                             "--import-bank 题库校验失败: 题库不是有效 JSON，请检查逗号、引号和编码。"),
        "package with two tests": (
            bank_text([raw(B)]), bank_text([raw(question("a", tests=changed_tests(2)))]),
            "--import-bank 题库校验失败: 每道题需要 3～20 个 tests 测试用例。"),
        "installed bank invalid": (
            bank_text([raw(B), raw(B)]), valid_pkg,
            "--import-bank 原题库无法安全合并，已取消导入: 题库存在重复 id，请修改后重新导入。"),
        "installed bank not JSON": (
            "{\"version\":1,", valid_pkg,
            "--import-bank 原题库无法安全合并，已取消导入: 题库不是有效 JSON，请检查逗号、引号和编码。"),
        "installed bank over the size limit": (
            bank_text([raw(B)]) + " " * BIG_PAD, valid_pkg,
            "--import-bank 原题库无法安全合并，已取消导入: 无法读取原题库"),
        "installed bank is a folder": (
            "folder", valid_pkg, "--import-bank 原题库无法安全合并，已取消导入: 无法读取原题库"),
        "merged bank over the question limit": (
            bank_text(too_many("old", 600)), bank_text(too_many("new", 401)),
            "--import-bank 合并后的题库校验失败: 题库须使用 version: 1，并包含 1～1000 道 questions。"),
    }


FAILING = ["package missing", "package over the size limit", "package not JSON",
           "package with two tests", "installed bank invalid", "installed bank not JSON",
           "installed bank over the size limit", "installed bank is a folder",
           "merged bank over the question limit"]


@pytest.mark.parametrize("name", FAILING)
def test_import_fails_and_changes_nothing(app, tmp_path, name):
    installed, package, message = failing_cases(tmp_path)[name]
    bank = app / "data" / "bank.json"
    if installed == "folder":
        bank.unlink()
        bank.mkdir()
        (bank / "inside.json").write_text("{}")
    else:
        install(app, installed)
    (app / "data" / "restamp.ids").write_bytes(OLD_RESTAMP)
    before = {p.name: (p.read_bytes() if p.is_file() else None)
              for p in (app / "data").iterdir()}
    pkg = tmp_path / "package.json"
    if package is not None:
        pkg.write_text(package, encoding="utf-8")

    assert run_import(app, "--import-bank", arg_path(pkg)) == 1

    after = {p.name: (p.read_bytes() if p.is_file() else None)
             for p in (app / "data").iterdir()}
    assert after == before
    assert import_lines(app) == [("E", message.format(pkg=arg_path(pkg)))]


def test_merged_bank_of_exactly_the_limit_is_installed(app, tmp_path):
    install(app, bank_text(too_many("old", 600)))
    pkg = tmp_path / "pkg.json"
    pkg.write_text(bank_text(too_many("new", 400)), encoding="utf-8")
    assert run_import(app, "--import-bank", arg_path(pkg)) == 0
    stored = json.loads((app / "data" / "bank.json").read_text(encoding="utf-8"))
    assert len(stored["questions"]) == 1000
    assert stored["questions"][0]["id"] == "new0" and stored["questions"][-1]["id"] == "old599"


def test_backup_name_taken_cancels_the_import(app, tmp_path):
    old = bank_text([raw(B)]).encode()
    install(app, old)
    pkg = tmp_path / "pkg.json"
    pkg.write_text(bank_text([raw(A)]), encoding="utf-8")
    # Occupy every backup name of the next seconds, so whenever the import runs its name exists.
    data = app / "data"
    start = datetime.datetime.now() - datetime.timedelta(seconds=1)
    window_ms = (TIMEOUT // 4) * 1000
    for ms in range(window_ms):
        t = start + datetime.timedelta(milliseconds=ms)
        name = t.strftime("bank-backup-%Y%m%d-%H%M%S-") + f"{t.microsecond // 1000:03d}.json"
        (data / name).write_bytes(b"taken")
    taken = sorted(p.name for p in data.iterdir())

    assert run_import(app, "--import-bank", arg_path(pkg)) == 1

    assert datetime.datetime.now() < start + datetime.timedelta(milliseconds=window_ms), \
        "the run outlasted the occupied names; the check proves nothing"
    assert sorted(p.name for p in data.iterdir()) == taken
    assert all(p.read_bytes() == b"taken" for p in backups(app))
    assert (data / "bank.json").read_bytes() == old
    assert import_lines(app) == [("E", "--import-bank 备份失败，已取消导入，原题库保留")]


# ---------------------------------------------------------------------------------------------
# The argument


def package_at(path, qid="a"):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(bank_text([raw(question(qid))]), encoding="utf-8")


def installed_ids(app):
    return [q["id"] for q in
            json.loads((app / "data" / "bank.json").read_text(encoding="utf-8"))["questions"]]


def test_path_with_spaces_given_as_one_argument(app, tmp_path):
    install(app, None)
    pkg = tmp_path / "my banks" / "new bank.json"
    package_at(pkg, "spaced")
    assert run_import(app, "--import-bank", arg_path(pkg)) == 0
    assert installed_ids(app) == ["spaced"]


def test_unquoted_path_ends_at_the_first_space(app, tmp_path):
    install(app, None)
    folder = tmp_path / "pk"
    package_at(folder / "one two.json", "whole")
    package_at(folder / "one", "first-word")
    # The path stands unquoted on the command line: "one" "two.json" as separate words.
    assert run_import(app, "--import-bank", "one", "two.json", cwd=folder) == 0
    assert installed_ids(app) == ["first-word"]


def test_relative_path_is_taken_from_the_current_folder(app, tmp_path):
    install(app, None)
    package_at(tmp_path / "work" / "rel.json", "relative")
    assert run_import(app, "--import-bank", "rel.json", cwd=tmp_path / "work") == 0
    assert installed_ids(app) == ["relative"]


@pytest.mark.parametrize("args", [
    ["--import-bank"],
    ["--import-bank", ""],
    ["--import-bank", "x" * 255 + ".json"],
], ids=["no path", "empty path", "260 characters"])
def test_bad_argument_ends_silently(app, tmp_path, args):
    bank_before = (app / "data" / "bank.json").read_bytes()
    assert run_import(app, *args, cwd=tmp_path) == 1
    assert not (app / "logs").exists(), "the log must not start"
    assert (app / "data" / "bank.json").read_bytes() == bank_before
    assert backups(app) == []


# ---------------------------------------------------------------------------------------------
# Beside a running instance of the same folder


def test_import_while_the_service_runs(start_tavrin, tmp_path):
    server = start_tavrin(bank=bank_text([raw(A), raw(B)]))
    assert server.get("/api/bank").body == bank_text([raw(A), raw(B)]).encode()
    assert server.get("/api/restamp").json() == {"ids": []}

    pkg = tmp_path / "pkg.json"
    pkg.write_text(bank_text([raw(question("b", compare="float")), raw(C)]), encoding="utf-8")
    assert run_import(server.folder, "--import-bank", arg_path(pkg)) == 0

    expected = merged_text([raw(question("b", compare="float")), raw(C), raw(A)])
    assert server.running(), "the import must leave the running instance alone"
    assert server.get("/api/bank").body == expected.encode()
    assert server.get("/api/restamp").json() == {"ids": ["a"]}
    assert server.get("/api/restamp").json() == {"ids": []}, "the list is handed out once"
    assert not server.data("restamp.ids").exists()
    assert server.stop() == 0
