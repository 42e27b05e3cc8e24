"""Judgings through the real program and a real compiler, on both lanes.

On Windows (under Wine) the program runs from a folder with blanks and Chinese characters in its
path and judges with its own GCC in toolchain/: the compiler it finds at start, the job object's
limits, the exit codes of Windows crashes and their advice, and the compile cache. The Linux
lane runs the same table with the system's GCC, so that a difference between the two is seen.
"""
from __future__ import annotations

import json
import re

import pytest

from tavrin import APP, LANE, ROOT, WINDOWS, copy_app, Tavrin, wait_for

FIX = ROOT / "tests" / "fixtures" / "judge"
SMALL = json.loads((ROOT / "tests" / "fixtures" / "bank" / "small.json").read_text("utf-8"))


def question(qid, tests, compare="tokens"):
    tests = (tests * 3)[:max(3, len(tests))]  # a question holds 3 to 20 tests
    q = dict(SMALL["questions"][0])
    q.update(id=qid, compare=compare, samples=[tests[0]], tests=tests)
    return q


def cases(*pairs):
    return [{"input": i, "output": o} for i, o in pairs]


# the largest case a bank holds (8000 bytes); /api/run takes 64 KB (see test_own_input_run)
NUMBERS = [(i * 7919) % 100003 - 50000 for i in range(1160)]
BANK = dict(SMALL, questions=SMALL["questions"] + [
    question("ll-double", cases(("9000000000 2.5\n", "9000000001 5.000\n"),
                                ("-9000000000000000000 0.125\n", "-8999999999999999999 0.250\n")),
             compare="float"),
    question("line-len", cases(("abc\r\nde\r\n", "3\n2\n"), ("abc\nde\n", "3\n2\n"),
                               ("abc\r\nde", "3\n2\n"))),
    question("sum-crlf", cases(("1 2\r\n", "3\r\n"), ("1 2\n", "3\n"), ("40\r\n2\r\n", "42\n"))),
    question("big-sum", cases((f"{len(NUMBERS)}\n" + "\n".join(map(str, NUMBERS)) + "\n",
                               f"{sum(NUMBERS)}\n"))),
    question("greet", cases(("", "你好，世界\n"))),
    question("twenty", cases(*[(f"{i} {i * 3}\n", f"{i * 4}\n") for i in range(20)])),
])

C_SUM = '#include <stdio.h>\nint main(void){int a,b;if(scanf("%d %d",&a,&b)!=2)return 1;printf("%d\\n",a+b);return 0;}\n'
CPP_SUM = "#include <iostream>\nint main(){int a,b;std::cin>>a>>b;std::cout<<a+b<<std::endl;}\n"
LL_DOUBLE = ('#include <stdio.h>\nint main(void){long long n;double d;'
             'if(scanf("%lld %lf",&n,&d)!=2)return 1;printf("%lld %.3f\\n",n+1,d*2);return 0;}\n')
LINE_LEN = ('#include <stdio.h>\n#include <string.h>\nint main(void){char s[100];'
            'while(fgets(s,sizeof s,stdin)){s[strcspn(s,"\\n")]=0;printf("%d\\n",(int)strlen(s));}return 0;}\n')
BIG_SUM = ('#include <stdio.h>\nint main(void){int n,x;long long s=0;if(scanf("%d",&n)!=1)return 1;'
           'for(int i=0;i<n;i++){if(scanf("%d",&x)!=1)return 2;s+=x;}printf("%lld\\n",s);return 0;}\n')
GREET = '#include <stdio.h>\n/* 输出一句中文问候 */\nint main(void){printf("你好，世界\\n");return 0;}\n'
# a missing semicolon on a line that holds Chinese text, after a Chinese comment
CHINESE_ERROR = ('#include <stdio.h>\n/* 计算两个数的和 */\nint main(void)\n{\n'
                 '    printf("和是：%d\\n", 1 + 2)   // 少了分号\n    return 0;\n}\n')
ABORT = '#include <stdlib.h>\nint main(void){abort();}\n'
BLOCKING_READ = r'''#ifdef _WIN32
#include <windows.h>
int main(void) {
  HANDLE r, w; char c; DWORD n;
  if (!CreatePipe(&r, &w, NULL, 0)) return 9;
  ReadFile(r, &c, 1, &n, NULL); /* nobody ever writes */
  return 0;
}
#else
#include <unistd.h>
int main(void) { int p[2]; char c; if (pipe(p)) return 9; return (int)read(p[0], &c, 1); }
#endif
'''
SYSTEM = ('#include <stdio.h>\n#include <stdlib.h>\n'
          'int main(void){int r=system("exit 0");puts(r==0?"started":"refused");return 0;}\n')
CREATE_PROCESS = r'''#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
int main(void) {
  wchar_t line[] = L"cmd.exe /c exit 0";
  STARTUPINFOW si = {sizeof si};
  PROCESS_INFORMATION pi;
  if (CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
    puts("started");
    return 0;
  }
  puts("refused");
  return 0;
}
#else
#include <unistd.h>
#include <sys/wait.h>
int main(void) {
  pid_t p = fork();
  if (p == 0) _exit(0);
  if (p > 0) { waitpid(p, 0, 0); puts("started"); return 0; }
  puts("refused");
  return 0;
}
#endif
'''

# exit codes of the same crash: Windows exception codes, 128 + signal on Linux
CRASH = {
    "access": (3221225477, 139),     # 0xC0000005 / SIGSEGV
    "stack": (3221225725, 139),      # 0xC00000FD / SIGSEGV
    "divide": (3221225620, 136),     # 0xC0000094 / SIGFPE
    "abort": (3, 134),               # the C runtime's abort / SIGABRT
}


def crash_code(kind):
    return CRASH[kind][0 if WINDOWS else 1]


CRASH_ADVICE = "检查数组边界和非法运算"
TIME_ADVICE = "检查循环和递归的结束条件"
OUTPUT_ADVICE = "减少输出并检查死循环"
FIRST_CASE_ADVICE = "从第一个未通过的用例定位"
ALL_PASSED = "已通过当前全部测试"


@pytest.fixture(scope="module")
def app(tmp_path_factory):
    if WINDOWS and not (APP / "toolchain" / "bin" / "gcc.exe").is_file():
        pytest.skip("no Windows toolchain in the program folder: configure the windows preset with "
                    "-DTAVRIN_TOOLCHAIN=ON (scripts/build-toolchain.sh builds it)")
    # blanks and Chinese characters in the program's path: the compiler, the linker and the
    # crt files it finds all sit under it
    folder = copy_app(tmp_path_factory.mktemp("judge") / "学生 文件夹" / "Tavrin 练习", bank=BANK,
                      toolchain=WINDOWS)
    t = Tavrin.start(folder)
    yield t
    t.stop()


def judge(app, qid, code, lang=None, mode=None):
    body = {"id": qid, "code": code}
    if lang:
        body["lang"] = lang
    if mode:
        body["mode"] = mode
    r = app.post("/api/judge", json.dumps(body, ensure_ascii=False).encode())
    assert r.status == 200
    return r.json()


def titles(v):
    return [s["title"] for s in v["suggestions"]]


def test_start_finds_the_compilers(app):
    log = app.log()
    if WINDOWS:
        own = str(app.folder / "toolchain" / "bin").replace("/", "\\")
        assert f"编译器（安装包自带，已加入 PATH）: Z:{own}\\gcc.exe" in log
        assert f"C++ 编译器（安装包自带）: Z:{own}\\g++.exe" in log
    status = app.get("/api/status").json()
    assert status["available"] is True and status["cppAvailable"] is True, status
    if WINDOWS:
        assert status["compiler"] == f"Z:{own}\\gcc.exe" and status["cppCompiler"] == f"Z:{own}\\g++.exe"


# id, code, lang, status, case statuses, exit codes (None: not checked), advice wanted,
# the program's own output in every case (None: not checked)
TABLE = [
    ("accepted C", "sum-two", C_SUM, None, "accepted", ["passed"] * 3, [0] * 3, [ALL_PASSED]),
    ("accepted C++ iostream", "sum-two", CPP_SUM, "cpp", "accepted", ["passed"] * 3, [0] * 3, [ALL_PASSED]),
    ("wrong answer", "sum-two", (FIX / "hello.c").read_text(), None, "failed", ["wrong_answer"] * 3,
     [0] * 3, [FIRST_CASE_ADVICE]),
    ("Chinese output", "greet", GREET, None, "accepted", ["passed"] * 3, [0] * 3, [ALL_PASSED]),
    ("long long and double", "ll-double", LL_DOUBLE, None, "accepted", ["passed"] * 3, [0] * 3, [ALL_PASSED]),
    ("CRLF and LF through scanf", "sum-crlf", C_SUM, None, "accepted", ["passed"] * 3, [0] * 3, [ALL_PASSED]),
    ("large input", "big-sum", BIG_SUM, None, "accepted", ["passed"] * 3, [0] * 3, [ALL_PASSED]),
    ("access violation", "hello", (FIX / "segv.c").read_text(), None, "failed",
     ["runtime_error"] * 3, [crash_code("access")] * 3, [CRASH_ADVICE]),
    ("stack overflow", "hello", (FIX / "recursion.c").read_text(), None, "failed",
     ["runtime_error"] * 3, [crash_code("stack")] * 3, [CRASH_ADVICE]),
    ("integer division by zero", "hello", (FIX / "divzero.c").read_text(), None, "failed",
     ["runtime_error"] * 3, [crash_code("divide")] * 3, [CRASH_ADVICE]),
    ("abort", "hello", ABORT, None, "failed", ["runtime_error"] * 3, [crash_code("abort")] * 3, [CRASH_ADVICE]),
    ("endless loop", "hello", (FIX / "loop.c").read_text(), None, "failed",
     ["timeout", "timeout", "skipped"], [1, 1, None], [TIME_ADVICE]),
    ("blocking read", "hello", BLOCKING_READ, None, "failed",
     ["timeout", "timeout", "skipped"], [1, 1, None], [TIME_ADVICE]),
    ("sleeping program", "hello", (FIX / "sleep.c").read_text(), None, "failed",
     ["timeout", "timeout", "skipped"], [1, 1, None], [TIME_ADVICE]),
    ("output limit", "hello", (FIX / "flood.c").read_text(), None, "failed",
     ["output_limit"] * 3, [1] * 3, [OUTPUT_ADVICE]),
    ("memory limit", "hello", (FIX / "bigmalloc.c").read_text(), None, "failed",
     ["runtime_error"] * 3, [5] * 3, [CRASH_ADVICE]),
    ("second process by system", "hello", SYSTEM, None, "failed", ["wrong_answer"] * 3, [0] * 3,
     [FIRST_CASE_ADVICE], "refused\n"),
    ("second process by CreateProcess or fork", "hello", CREATE_PROCESS, None, "failed",
     ["wrong_answer"] * 3, [0] * 3, [FIRST_CASE_ADVICE], "refused\n"),
]
TABLE = [row if len(row) == 9 else row + (None,) for row in TABLE]


@pytest.mark.parametrize("qid,code,lang,status,statuses,codes,advice,actual",
                         [row[1:] for row in TABLE], ids=[row[0] for row in TABLE])
def test_judgings(app, qid, code, lang, status, statuses, codes, advice, actual):
    v = judge(app, qid, code, lang)
    # what a diagnostic run found comes last, and only on platforms that make one
    assert [k for k in v if k != "evidence"] == ["compiled", "diagnostics", "compileMs", "passed",
                                                "total", "status", "cases", "suggestions"]
    assert v["compiled"] is True, v["diagnostics"]
    assert v["status"] == status
    assert [c["status"] for c in v["cases"]] == statuses, v["cases"]
    got = [c.get("exitCode") for c in v["cases"]]
    assert [g if want is not None else None for g, want in zip(got, codes)] == codes
    assert v["passed"] == statuses.count("passed") and v["total"] == len(statuses)
    for want in advice:
        assert want in titles(v)
    for c in v["cases"]:
        if c["status"] == "skipped":
            assert c == {"index": c["index"], "status": "skipped", "ms": 0}
        elif c["status"] == "timeout":
            assert c["ms"] >= 1500
    if actual is not None:
        assert [c["actual"] for c in v["cases"]] == [actual] * len(statuses)


def test_a_crash_shows_no_debugger_output(app):
    v = judge(app, "hello", (FIX / "segv.c").read_text())
    assert all(c["actual"] == "" for c in v["cases"]), v["cases"][0]["actual"][:400]


def test_line_ends_in_text_mode(app):
    # Windows' C runtime reads standard input in text mode: CR LF arrives as LF.
    v = judge(app, "line-len", LINE_LEN)
    expect = ["passed"] * 3 if WINDOWS else ["wrong_answer", "passed", "wrong_answer"]
    assert [c["status"] for c in v["cases"]] == expect, v["cases"]


def test_compile_error_in_a_Chinese_source(app):
    v = judge(app, "hello", CHINESE_ERROR)
    assert v["compiled"] is False and v["status"] == "compile_error" and v["cases"] == []
    d = v["diagnostics"]
    assert "error:" in d and "expected" in d
    # the quoted source line comes back as readable UTF-8
    assert "和是" in d and "\ufffd" not in d, d
    assert titles(v)[0] == "先解决编译问题"
    log = app.wait_log("编译器报错")
    assert "评测 hello | 编译失败" in log


def test_log_summary_counts_timeouts_apart_from_crashes(app):
    judge(app, "sum-two", (FIX / "loop.c").read_text())
    log = app.wait_log("评测 sum-two | C99 | 未全部通过 | 0/3 通过 | 超时 2")
    line = [x for x in log.splitlines() if "评测 sum-two | C99 | 未全部通过 | 0/3 通过 | 超时 2" in x][-1]
    assert line.endswith("超时 2 崩溃 0 输出超限 0"), line
    judge(app, "sum-two", (FIX / "segv.c").read_text())
    log = app.wait_log("0/3 通过 | 超时 0 崩溃 3 输出超限 0")


def test_own_input_run(app):
    r = app.post("/api/run", json.dumps({"code": C_SUM, "input": "40 2\r\n"}).encode()).json()
    assert r["compiled"] is True
    assert r["run"]["status"] == "ok" and r["run"]["output"] == "42\n" and r["run"]["exitCode"] == 0
    numbers = [(i * 7919) % 100003 - 50000 for i in range(9000)]
    big = f"{len(numbers)}\n" + " ".join(map(str, numbers)) + "\n"
    assert 50000 < len(big) <= 65536
    r = app.post("/api/run", json.dumps({"code": BIG_SUM, "input": big}).encode()).json()
    assert r["run"]["status"] == "ok" and r["run"]["output"] == f"{sum(numbers)}\n", r["run"]
    r = app.post("/api/run", json.dumps({"code": (FIX / "segv.c").read_text(), "input": ""}).encode()).json()
    assert r["run"]["status"] == "runtime_error" and r["run"]["exitCode"] == crash_code("access")
    r = app.post("/api/run", json.dumps({"code": CPP_SUM, "lang": "cpp", "input": "1 2"}).encode()).json()
    assert r["run"]["status"] == "ok" and r["run"]["output"] == "3\n"


def test_the_compile_cache_answers_a_repeat(app):
    code = C_SUM.replace("return 0;", "return 0; /* cache */")
    first = judge(app, "sum-two", code)
    second = judge(app, "sum-two", code)
    assert first["status"] == second["status"] == "accepted"
    assert second["diagnostics"] == first["diagnostics"]
    log = app.log()
    assert log.count("评测 sum-two | 编译结果取自缓存") >= 1
    # a hit does not start the compiler: far below a real compile
    assert second["compileMs"] < first["compileMs"]


RENAME_SELF = r'''#include <stdio.h>
int main(void) { return rename("solution.exe", "moved.exe") == 0 ? 0 : 8; }
'''


def test_log_says_why_a_run_did_not_start(app):
    # The program moves its own file away: the next case has nothing to start.
    v = judge(app, "hello", RENAME_SELF)
    statuses = [c["status"] for c in v["cases"]]
    assert statuses[1:] == ["launch_error", "launch_error"], v["cases"]
    assert v["cases"][1]["ms"] == 0
    log = app.wait_log("评测 hello | 程序未能启动：")
    why = re.search(r"评测 hello \| 程序未能启动：(.*)", log).group(1)
    if WINDOWS:
        assert why.startswith("CreateProcess 失败（错误 2）"), why  # ERROR_FILE_NOT_FOUND
