"""The run-only mode (POST /api/run) and the judge's progress and stop routes, on both lanes.

What needs a compiler runs on Linux only (no GCC toolchain runs under Wine here); the
request checks, the gate and the progress routes run on Windows under Wine too.
"""
from __future__ import annotations

import json
import os
import threading
import time

import pytest

from tavrin import LANE, ROOT, copy_app, Tavrin, wait_for

BANK = (ROOT / "tests" / "fixtures" / "bank" / "small.json").read_bytes()
SUM = '#include <stdio.h>\nint main(void){int a,b;if(scanf("%d %d",&a,&b)!=2)return 1;printf("%d\\n",a+b);return 0;}\n'
FOREVER = "int main(void){for(;;){}}\n"
needs_gcc = pytest.mark.skipif(LANE == "windows", reason="no Windows GCC toolchain runs under Wine here")


@pytest.fixture(scope="module")
def app(tmp_path_factory):
    folder = copy_app(tmp_path_factory.mktemp("run") / "app", bank=BANK)
    t = Tavrin.start(folder)
    yield t
    t.stop()


def post(app, path, body):
    r = app.post(path, body if isinstance(body, bytes) else json.dumps(body, ensure_ascii=False).encode())
    assert r.status == 200
    return r.json()


BAD = "自测请求格式错误，或代码超过 64 KB、输入超过 64 KB。"


@pytest.mark.parametrize("body", [
    b"{",
    b"[]",
    {"input": "1"},
    {"code": 5},
    {"code": "x" * 64001},
    {"code": SUM, "input": "1" * 65537},
])
def test_bad_requests_are_refused_before_anything_runs(app, body):
    assert post(app, "/api/run", body) == {"error": BAD}


def test_the_gate_holds(app):
    assert app.request("POST", "/api/run", json.dumps({"code": SUM}).encode(), auth=False).status == 403
    assert app.request("GET", "/api/judge/progress", auth=False).status == 403


def test_progress_when_idle_and_a_stop_with_nothing_running(app):
    assert post(app, "/api/judge/stop", b"{}") == {"ok": True}
    r = app.get("/api/judge/progress")
    assert r.status == 200 and r.json() == {"running": False, "case": 0, "total": 0, "stopping": False}
    # A stop asked while nothing ran does not stop the next submission.
    if LANE != "windows":
        v = post(app, "/api/judge", {"id": "sum-two", "code": SUM})
        assert v["status"] == "accepted"


@needs_gcc
def test_a_run_answers_with_the_output_and_leaves_no_folder(app, tmp_path):
    v = post(app, "/api/run", {"code": SUM, "input": "20 22\n"})
    assert list(v) == ["compiled", "diagnostics", "compileMs", "run"]
    assert v["run"] == {**v["run"], "status": "ok", "exitCode": 0, "nul": False, "output": "42\n"}
    assert "自测 | ok" in app.log()


@needs_gcc
def test_progress_names_the_running_case_and_stop_skips_the_rest(app):
    slow = '#include <stdio.h>\n#include <time.h>\nint main(void){int a,b;clock_t t=clock();' \
           'while(clock()-t<CLOCKS_PER_SEC/2){}if(scanf("%d %d",&a,&b)!=2)return 1;printf("%d\\n",a+b);return 0;}\n'
    result = {}
    worker = threading.Thread(target=lambda: result.update(post(app, "/api/judge", {"id": "sum-two", "code": slow})))
    worker.start()
    seen = None
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        p = app.get("/api/judge/progress").json()
        if p["running"] and p["case"] >= 1:
            seen = p
            break
        time.sleep(0.02)
    assert seen and seen["total"] == 3
    assert post(app, "/api/judge/stop", b"{}") == {"ok": True}
    worker.join(60)
    statuses = [c["status"] for c in result["cases"]]
    assert "skipped" in statuses and statuses[-1] == "skipped"
    # The verdict keeps its shape; the skipped cases carry index, status and ms only.
    assert list(result) == ["compiled", "diagnostics", "compileMs", "passed", "total", "status", "cases", "suggestions"]
    assert list(result["cases"][-1]) == ["index", "status", "ms"]
    assert app.get("/api/judge/progress").json()["running"] is False


@needs_gcc
def test_run_and_judge_share_one_sandbox_at_a_time(app):
    # Once the own-input run is under way (its log line is written while it holds the judge),
    # a judging is refused until it ends. A loaded machine may let the endless run reach its
    # time limit before the judging arrives: then the judging runs, and the pair is tried again.
    refused = False
    for _ in range(3):
        before = app.log().count("自测 | 语言")
        worker = threading.Thread(target=lambda: post(app, "/api/run", {"code": FOREVER}))
        worker.start()
        try:
            wait_for(lambda: app.log().count("自测 | 语言") > before, 60, "the own-input run under way")
            answer = post(app, "/api/judge", {"id": "sum-two", "code": SUM})
        finally:
            worker.join(60)
        if answer.get("error") == "已有代码正在评测，请等待本次完成。":
            refused = True
            break
    assert refused


def test_missing_compiler_is_named(tmp_path):
    folder = copy_app(tmp_path / "app", bank=BANK)
    tools = folder / "toolchain" / "bin"
    if LANE != "windows":
        # Found at the start, gone afterwards (under Wine there is no compiler at all).
        tools.mkdir(parents=True)
        for name, target in (("gcc", "/usr/bin/gcc"), ("g++", "/usr/bin/g++")):
            os.symlink(target, tools / name)
    t = Tavrin.start(folder)
    try:
        if LANE != "windows":
            for name in ("gcc", "g++"):
                (tools / name).unlink()
        assert post(t, "/api/run", {"code": SUM})["error"].startswith("没有找到编译器。")
        assert post(t, "/api/run", {"code": SUM, "lang": "cpp"})["error"].startswith("没有找到 g++。")
        assert "自测中止：找不到 gcc 编译器" in t.log()
    finally:
        t.stop()


# A program that swaps its output file for another one of its own making: the run's answer is
# still what the program wrote to its standard output, read from the file the judge kept open.
SWAP_OUTPUT = r'''#include <stdio.h>
#include <unistd.h>
int main(void) {
    printf("real\n");
    fflush(stdout);
    rename("output.txt", "moved.txt");
    FILE *f = fopen("output.txt", "w");
    if (f) { fputs("forged\n", f); fclose(f); }
    return 0;
}
'''


@needs_gcc
def test_own_input_run_reads_back_its_own_output_file(app):
    answer = post(app, "/api/run", {"code": SWAP_OUTPUT})
    assert answer["compiled"] is True
    assert answer["run"]["output"] == "real\n"
