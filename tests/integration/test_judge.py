"""The judge through POST /api/judge on the running program."""
from __future__ import annotations

import json
import os
import threading
import time
from pathlib import Path

import pytest

from tavrin import LANE, ROOT, copy_app, Tavrin

pytestmark = pytest.mark.skipif(LANE == "windows", reason="no Windows GCC toolchain runs under Wine here")

BANK = (ROOT / "tests" / "fixtures" / "bank" / "small.json").read_bytes()
FIX = ROOT / "tests" / "fixtures" / "judge"
HELLO = (FIX / "hello.c").read_text()
SUM = '#include <stdio.h>\nint main(void){int a,b;if(scanf("%d %d",&a,&b)!=2)return 1;printf("%d\\n",a+b);return 0;}\n'
SUM_CPP = "#include <iostream>\nint main(){int a,b;std::cin>>a>>b;std::cout<<a+b<<std::endl;}\n"


@pytest.fixture(scope="module")
def app(tmp_path_factory):
    folder = copy_app(tmp_path_factory.mktemp("judge") / "app", bank=BANK)
    t = Tavrin.start(folder)
    yield t
    t.stop()


def judge(app, qid, code, mode=None, lang=None):
    body = {"id": qid, "code": code}
    if mode is not None:
        body["mode"] = mode
    if lang is not None:
        body["lang"] = lang
    r = app.post("/api/judge", json.dumps(body, ensure_ascii=False).encode())
    assert r.status == 200
    return r.json()


def titles(v):
    return [s["title"] for s in v["suggestions"]]


@pytest.mark.parametrize("qid,code,mode,lang,status,total,statuses", [
    ("hello", HELLO, None, None, "accepted", 3, ["passed"] * 3),
    ("hello", HELLO, "sample", None, "accepted", 1, ["passed"]),
    ("sum-two", SUM, None, None, "accepted", 3, ["passed"] * 3),
    ("sum-two", SUM_CPP, None, "cpp", "accepted", 3, ["passed"] * 3),
    ("sum-two", SUM_CPP, "sample", "cpp", "accepted", 1, ["passed"]),
    ("sum-two", HELLO, None, None, "failed", 3, ["wrong_answer"] * 3),
    ("sum-two", SUM_CPP, None, "C++", "compile_error", 0, []),
])
def test_verdicts(app, qid, code, mode, lang, status, total, statuses):
    v = judge(app, qid, code, mode, lang)
    assert list(v) == ["compiled", "diagnostics", "compileMs", "passed", "total", "status",
                       "cases", "suggestions"]
    assert v["status"] == status
    assert v["total"] == total
    assert [c["status"] for c in v["cases"]] == statuses
    if statuses:
        assert list(v["cases"][0]) == ["index", "status", "ms", "exitCode", "input", "expected", "actual"]


def test_compile_error_suggests_the_language_switch(app):
    v = judge(app, "sum-two", SUM_CPP)
    assert v["compiled"] is False and v["cases"] == [] and v["passed"] == 0
    assert "error" in v["diagnostics"]
    assert titles(v) == ["先解决编译问题", "这段代码看起来是 C++"]


def test_warnings_reach_an_accepted_run(app):
    code = '#include <stdio.h>\nint main(void){int unused;printf("Hello, World!\\n");return 0;}\n'
    v = judge(app, "hello", code)
    assert v["status"] == "accepted" and "warning:" in v["diagnostics"]
    assert titles(v) == ["处理编译器警告", "已通过当前全部测试"]


def test_code_size_limit(app):
    exact = HELLO + " " * (64000 - len(HELLO))
    assert judge(app, "hello", exact)["status"] == "accepted"
    assert judge(app, "hello", exact + " ") == {"error": "提交格式错误或代码超过 64 KB。"}


def test_a_second_submission_is_refused_while_one_runs(app):
    slow = (FIX / "loop.c").read_text()
    first = {}
    t = threading.Thread(target=lambda: first.update(judge(app, "hello", slow)))
    t.start()
    # The slow one holds the judge for two 1.5 s time-outs; ask in the middle of them.
    time.sleep(1.0)
    busy = judge(app, "hello", HELLO)
    t.join()
    assert busy == {"error": "已有代码正在评测，请等待本次完成。"}
    assert [c["status"] for c in first["cases"]] == ["timeout", "timeout", "skipped"]
    assert judge(app, "hello", HELLO)["status"] == "accepted"  # free again afterwards


def test_missing_compiler(tmp_path):
    folder = copy_app(tmp_path / "app", bank=BANK)
    tools = folder / "toolchain" / "bin"
    tools.mkdir(parents=True)
    for name, target in (("gcc", "/usr/bin/gcc"), ("g++", "/usr/bin/g++")):
        os.symlink(target, tools / name)
    t = Tavrin.start(folder)
    try:
        for name in ("gcc", "g++"):
            (tools / name).unlink()  # removed after the start found it
        assert judge(t, "hello", HELLO)["error"].startswith("没有找到编译器。")
        assert judge(t, "hello", HELLO, lang="cpp")["error"].startswith("没有找到 g++。")
        assert "评测 hello 中止：找不到 gcc 编译器" in t.log()
    finally:
        t.stop()
