"""Runtime evidence: a failing submission is run once more as a diagnostic build, and the
verdict gains the line where the program crashed or broke a rule; the verdict itself stays."""
from __future__ import annotations

import json

import pytest

from tavrin import LANE, ROOT, copy_app, wait_for, Tavrin

pytestmark = pytest.mark.skipif(LANE == "windows", reason="the diagnostic build is made on Linux only")

BANK = (ROOT / "tests" / "fixtures" / "bank" / "small.json").read_bytes()
FIX = ROOT / "tests" / "fixtures" / "evidence"
SUM = '#include <stdio.h>\nint main(void){int a,b;if(scanf("%d %d",&a,&b)!=2)return 1;printf("%d\\n",a+b);return 0;}\n'
DIAGNOSED = "| 诊断运行 |"


@pytest.fixture(scope="module")
def app(tmp_path_factory):
    folder = copy_app(tmp_path_factory.mktemp("evidence") / "app", bank=BANK)
    t = Tavrin.start(folder)
    yield t
    t.stop()


def post(app, path, body):
    r = app.post(path, json.dumps(body, ensure_ascii=False).encode())
    assert r.status == 200
    return r.json()


def diagnostic_runs(app):
    return app.log().count(DIAGNOSED)


# file, language, first case's status, kind, lines, words the message holds
ROWS = [
    ("local_write.c", None, "runtime_error", "bounds", {7},
     ["第 7 行", "t[i] 越界", "下标 10，数组 t 只有 10 个元素，合法下标是 0 到 9"]),
    ("local_write.cpp", "cpp", "runtime_error", "bounds", {6},
     ["第 6 行", "下标 3，数组 t 只有 3 个元素，合法下标是 0 到 2"]),
    ("global_read.c", None, "runtime_error", "bounds", {6},
     ["下标 100000000，数组 g 只有 5 个元素，合法下标是 0 到 4"]),
    ("index_minus_one.c", None, "wrong_answer", "bounds", {6},
     ["t[k] 越界", "下标 -1，数组 t 只有 10 个元素，合法下标是 0 到 9"]),
    ("divide_by_zero.c", None, "runtime_error", "divide", {5}, ["第 5 行", "除数为 0"]),
    ("null_pointer.c", None, "runtime_error", "null", {6}, ["第 6 行", "空指针"]),
    # The overflow faults in the call or in the called function's first line.
    ("endless_recursion.c", None, "runtime_error", "stack", {2, 3}, ["递归太深", "栈溢出"]),
    ("scanf_without_address.c", None, "runtime_error", "library", {4}, ["第 4 行", "&"]),
    # The program replaces its own file before it crashes: the line still comes from the file
    # the compiler made.
    ("replaced_program.c", None, "runtime_error", "library", {13}, ["第 13 行"]),
    ("silent_overwrite.c", None, "wrong_answer", "bounds", {7},
     ["seen[i] 越界", "下标 4，数组 seen 只有 4 个元素，合法下标是 0 到 3"]),
]


@pytest.mark.parametrize("name,lang,status,kind,lines,words", ROWS, ids=[r[0] for r in ROWS])
def test_a_failing_program_gets_the_line(app, name, lang, status, kind, lines, words):
    code = (FIX / name).read_text()
    before = diagnostic_runs(app)
    body = {"id": "sum-two", "code": code}
    if lang:
        body["lang"] = lang
    v = post(app, "/api/judge", body)
    # The verdict is what it was without the diagnostic run; the evidence is one field more.
    assert list(v) == ["compiled", "diagnostics", "compileMs", "passed", "total", "status",
                       "cases", "suggestions", "evidence"]
    assert v["status"] == "failed" and v["cases"][0]["status"] == status
    e = v["evidence"]
    assert list(e) == ["kind", "line", "text", "message"]
    assert e["kind"] == kind and e["line"] in lines, e
    assert e["text"] == code.splitlines()[e["line"] - 1].strip()
    for w in words:
        assert w in e["message"], e["message"]
    assert diagnostic_runs(app) == before + 1  # once per submission, however many cases failed


@pytest.mark.parametrize("name,code", [
    ("correct", SUM),
    ("diagnostic run never ends", (FIX / "diagnostic_run_hangs.c").read_text()),
    ("forged reports", (FIX / "forged_report.c").read_text()),
])
def test_no_evidence(app, name, code):
    before = app.log()
    v = post(app, "/api/judge", {"id": "sum-two", "code": code})
    assert "evidence" not in v
    log = app.log()[len(before):]
    if name == "correct":
        assert v["status"] == "accepted"
        assert DIAGNOSED not in log  # correct code pays nothing
    else:
        assert v["status"] == "failed" and v["cases"][0]["status"] == "runtime_error"
        assert DIAGNOSED in log and "未找到出错位置" in log
    if name == "diagnostic run never ends":
        assert "| 超时 |" in log


def test_own_input_run_gets_the_line(app):
    code = (FIX / "divide_by_zero.c").read_text()
    v = post(app, "/api/run", {"code": code, "input": "7 2\n"})
    assert v["run"]["status"] == "runtime_error"
    assert v["evidence"]["kind"] == "divide" and v["evidence"]["line"] == 5
    ok = post(app, "/api/run", {"code": code, "input": "7 3\n"})
    assert ok["run"]["status"] == "ok" and "evidence" not in ok


def test_wrong_output_that_is_not_cut_short_is_not_diagnosed(app):
    before = diagnostic_runs(app)
    code = '#include <stdio.h>\nint main(void){printf("42\\n");return 0;}\n'
    v = post(app, "/api/judge", {"id": "sum-two", "code": code})
    assert v["status"] == "failed" and "evidence" not in v
    assert diagnostic_runs(app) == before
