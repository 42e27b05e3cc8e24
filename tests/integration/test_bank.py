"""The bundled question bank: authored folders, the assembled bank.json, and every
exercise judged for real.

Three layers:
- the folders themselves, checked with the real gcc/g++ and the judge's flags
  (reference matches every case, starter compiles, each kept wrong solution fails);
- the assembler: the program folder's bank.json holds exactly the authored
  exercises, and broken folders stop the assembler with the exercise's name;
- the running program: every reference is accepted by /api/judge in test and
  sample mode, every starter compiles there, every wrong solution is refused;
- the Windows build (windows lane): every reference and wrong solution compiled with
  the mingw-w64 cross compiler and the judge's own flags, run under Wine (32-bit long,
  the Windows C runtime) on every case by one runner process, and compared the judge's way.
"""
import concurrent.futures
import hashlib
import importlib.util
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

from tavrin import Tavrin, copy_app

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
_spec = importlib.util.spec_from_file_location("bank_check", os.path.join(SOURCE, "bank", "check.py"))
check = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check)

EXERCISES = check.load()
BY_ID = {e["id"]: e for e in EXERCISES}
WRONG = [(e["id"], name) for e in EXERCISES for name in e["wrong"]]
LANE = os.environ.get("TAVRIN_LANE", "linux")
APP = os.environ.get("TAVRIN_APP")
EXE = os.environ.get("TAVRIN_EXE")
BUILD = os.environ.get("TAVRIN_BUILD")

native_only = pytest.mark.skipif(LANE != "linux" or not shutil.which("gcc"),
                                 reason="the folders are checked with the native compilers in the linux lane")


# ---- the authored folders, with the real compilers --------------------------------------
#
# Everything is compiled and run once, on all cores, by a module fixture; the tests below
# read its findings. A wrong solution meets the tests newest first (the edge cases that refuse
# it were added last) and stops at its first refusal.

def _native_check(ex):
    found = {"reference": None, "starter": None, "wrong": {}}
    with tempfile.TemporaryDirectory(prefix="bank-native-") as work:
        exe, diag = check.compile_source(ex["lang"], ex["reference"], work, "reference")
        problems = []
        if not exe:
            problems.append(diag)
        else:
            if diag.strip():
                problems.append(f"reference should build without warnings:\n{diag}")
            for kind in ("samples", "tests"):
                for i, case in enumerate(ex[kind], 1):
                    code, out = check.run(exe, case["input"])
                    if code != 0:
                        problems.append(f"{kind}/{i} exited with {code}")
                    elif not check.outputs_match(out, case["output"], ex["compare"]):
                        problems.append(f"{kind}/{i}: got {out[:300]!r}, expected {case['output'][:300]!r}")
        found["reference"] = problems
        exe, diag = check.compile_source(ex["lang"], ex["starter"], work, "starter")
        found["starter"] = None if exe else diag
        for name, source in ex["wrong"].items():
            lang = "cpp" if name.endswith(".cpp") else "c"
            exe, diag = check.compile_source(lang, source, work, "wrong")
            if not exe:
                found["wrong"][name] = "a wrong solution must compile, so that the cases are what refuses it:\n" + diag
                continue
            refused = False
            for case in reversed(ex["tests"]):
                code, out = check.run(exe, case["input"], timeout=3)
                if code != 0 or not check.outputs_match(out, case["output"], ex["compare"]):
                    refused = True
                    break
            found["wrong"][name] = None if refused else f"wrong/{name} passes every test"
    return ex["id"], found


@pytest.fixture(scope="module")
def native():
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(2, os.cpu_count() or 2)) as pool:
        return dict(pool.map(_native_check, EXERCISES))


@native_only
@pytest.mark.parametrize("ex_id", sorted(BY_ID))
def test_reference_matches_every_case_warning_free(native, ex_id):
    problems = native[ex_id]["reference"]
    assert not problems, "\n".join(problems)


@native_only
@pytest.mark.parametrize("ex_id", sorted(BY_ID))
def test_starter_compiles(native, ex_id):
    diag = native[ex_id]["starter"]
    assert diag is None, diag


@native_only
@pytest.mark.parametrize("ex_id,name", WRONG)
def test_wrong_solution_fails_a_test(native, ex_id, name):
    problem = native[ex_id]["wrong"][name]
    assert problem is None, problem


# The comparison used above must itself tell right from wrong the way the judge does.
@pytest.mark.parametrize("actual,expected,mode,result", [
    ("1 2\n", "1\r\n2", "tokens", True),
    ("", "\n", "tokens", True),
    ("", "0", "tokens", False),
    ("1 2 3", "1 2", "tokens", False),
    ("1.0", "1", "tokens", False),
    ("Yes", "yes", "float", False),
    ("1e6", "1000000", "float", True),
    ("0x10", "16", "float", True),
    ("0.3333333", "0.333333", "float", True),
    ("500.0004", "500", "float", True),
    ("500.0006", "500", "float", False),
    ("0.500002", "0.5", "float", False),
    ("16abc", "16", "float", False),
    ("1,000", "1000", "float", False),
    ("nan", "nan", "float", True),
    ("inf", "Inf", "float", False),
])
def test_comparison_follows_the_judge(actual, expected, mode, result):
    assert check.outputs_match(actual, expected, mode) is result



# ---- every input inside the ranges its statement gives -----------------------------------

@pytest.mark.parametrize("ex_id", sorted(BY_ID))
def test_every_input_lies_inside_the_stated_ranges(ex_id):
    problems = check.check_ranges(BY_ID[ex_id])
    assert not problems, "\n".join(problems)


_SPEC = """
int n 1 3
repeat n
word name [a-z]{1,5}
int score -10 n*10
end
check len(set(all_name)) == n
line note [ -~]{0,8}
real price 0 2.5 2
"""


@pytest.mark.parametrize("text,wrong", [
    ("2\nab 5\ncd 20\nhello\n2.50\n", None),
    ("1\nab -10\n\n0\n", None),                       # an empty line where the line may be empty
    ("1\r\nab 10\r\nx y\r\n1.5\r\n", None),           # Windows line ends
    ("4\nab 5\ncd 20\n", "n = 4 outside"),
    ("0\nhi\n1\n", "n = 0 outside"),
    ("2\nab 5\ncd 21\nhi\n1\n", "score = 21 outside"),  # the bound depends on n
    ("1\nab 1.0\nhi\n1\n", "is not an integer"),
    ("1\nAb 1\nhi\n1\n", "does not match"),
    ("2\nab 1\nab 2\nhi\n1\n", "fails: len(set(all_name))"),
    ("1\nab 1 extra\nhi\n1\n", "unexpected"),           # the line must start where the tokens ended
    ("1\nab 1\nmuch too long\n1\n", "does not match"),
    ("1\nab 1\nhi\n2.501\n", "more than 2 decimals"),
    ("1\nab 1\nhi\n2.51\n", "outside"),
    ("1\nab 1\nhi\n", "the input ends"),
    ("1\nab 1\nhi\n1\n7\n", "left over"),
])
def test_range_checker_tells_inside_from_outside(text, wrong):
    why = check.check_input(check.parse_ranges(_SPEC), text)
    if wrong is None:
        assert why is None, why
    else:
        assert why and wrong in why, why


@pytest.mark.parametrize("spec,found", [
    ("more 1 2\nint x 0 9\nend", {"": "0 repetitions", "1 2": None, "1 2 3": "3 repetitions"}),
    ("word t ([01]\\d|2[0-3]):([0-5]\\d)\ncheck t_1 * 60 + t_2 >= 60", {"00:59": "fails", "01:00": None, "24:00": "does not match"}),
    ("int b 0 10**18", {"1000000000000000000": None, "1152921504606846976": "outside"}),
])
def test_range_checker_repeats_patterns_and_expressions(spec, found):
    parsed = check.parse_ranges(spec)
    for text, wrong in found.items():
        why = check.check_input(parsed, text + "\n")
        assert (why is None) if wrong is None else (why and wrong in why), (text, why)


@pytest.mark.parametrize("spec,error", [
    ("repeat 2\nint x 0 1", "not closed"),
    ("end", "end without"),
    ("integer x 0 1", "unknown statement"),
    ("int x 0", "needs 3 arguments"),
])
def test_range_checker_refuses_a_broken_ranges_file(spec, error):
    with pytest.raises(check.RangeError, match=error):
        check.parse_ranges(spec)


# ---- the bank content and the assembled file --------------------------------------------

def test_bank_covers_every_topic_level_and_language():
    by_topic = {}
    for e in EXERCISES:
        by_topic.setdefault(e["topic"], []).append(e)
    assert sorted(by_topic) == list(range(1, 10))
    for topic, items in by_topic.items():
        assert len(items) >= 6, f"topic {topic} has only {len(items)} exercises"
        stars = {e["stars"] for e in items}
        assert min(stars) <= 2 and max(stars) >= 4, f"topic {topic} spans only stars {sorted(stars)}"
    assert len(EXERCISES) >= 60
    for topic, items in by_topic.items():
        langs = [e["lang"] for e in items]
        assert langs == sorted(langs), f"topic {topic}: the C exercises come before the C++ ones"
    assert EXERCISES[0]["lang"] == "c", "the very first exercise is a C one"
    assert sum(e["lang"] == "cpp" for e in EXERCISES) >= 8
    assert sum(e["compare"] == "float" for e in EXERCISES) >= 6
    for e in EXERCISES:
        assert 1 <= len(e["samples"]) <= 5 and 3 <= len(e["tests"]) <= 20, e["id"]
        assert "在这里" in e["starter"], f"{e['id']}: the starter should show where to write"
        assert e["hints"] and len(e["hints"]) == 2 and all(h.strip() for h in e["hints"]), \
            f"{e['id']}: hints.md should give the idea (思路) and the key step (关键一步)"


def _bundled_bank():
    path = os.path.join(APP or "", "data", "bank.json")
    if not APP or not os.path.exists(path):
        pytest.skip("no program folder to look at (TAVRIN_APP)")
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def test_program_folder_holds_the_authored_bank():
    bank = _bundled_bank()
    assert bank["version"] == 1 and bank["title"] and isinstance(bank["revision"], str)
    questions = bank["questions"]
    assert [q["id"] for q in questions] == [e["id"] for e in EXERCISES], "same exercises in display order"
    for q in questions:
        e = BY_ID[q["id"]]
        for key in ("topic", "stars", "lang", "compare", "title", "scenario", "task", "input", "output",
                    "constraints", "starter", "reference"):
            assert q[key] == e[key], f"{q['id']}.{key}"
        for kind in ("samples", "tests"):
            assert q[kind] == [{"input": c["input"], "output": c["output"]} for c in e[kind]], f"{q['id']}.{kind}"
        assert q.get("hints") == e["hints"], f"{q['id']}.hints"


def _read_limit():
    with open(os.path.join(SOURCE, "src", "store", "store.h"), encoding="utf-8") as f:
        return int(re.search(r"store_file_limit = (\d+)", f.read()).group(1))


def test_bundled_bank_leaves_room_under_the_read_limit():
    """The program reads the bank whole up to a fixed limit; the bundled one keeps half of it
    free for the banks that teachers merge in."""
    _bundled_bank()
    size = os.path.getsize(os.path.join(APP, "data", "bank.json"))
    assert size <= _read_limit() // 2, f"the bundled bank has {size} bytes"


def _assembler():
    for name in ("bank_assemble", "host-bank/bank_assemble"):
        path = os.path.join(BUILD or "", name)
        if BUILD and os.path.exists(path):
            return path
    pytest.skip("no bank_assemble in this build")


def _break_remove_out(d):
    os.remove(os.path.join(d, "tests", "2.out"))


def _break_two_tests(d):
    n = 1
    while os.path.exists(os.path.join(d, "tests", f"{n}.in")):
        n += 1
    for i in range(3, n):
        os.remove(os.path.join(d, "tests", f"{i}.in"))
        os.remove(os.path.join(d, "tests", f"{i}.out"))


def _edit(name, old, new):
    def edit(d):
        path = os.path.join(d, name)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        assert old in text
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(old, new, 1))
    return edit


@pytest.mark.parametrize("breakage,message", [
    (_break_remove_out, "tests/2"),
    (_break_two_tests, "每道题需要 3～20 个 tests 测试用例。"),
    (_edit("meta.json", '"tokens"', '"token"'), "compare 只能使用 tokens 或 float。"),
    (_edit("meta.json", '"topic": 4', '"topic": 10'), "topic 必须是 1～9，stars 必须是 1～5。"),
    (_edit("text.md", "## 任务", "## 要求"), "要求"),
    (_edit("text.md", "## 范围", "## 任务"), "任务"),
    (_edit("hints.md", "## 关键一步", "## 答案"), "hints.md 的小节须依次是 思路、关键一步"),
    (_edit("hints.md", "## 关键一步", ""), "hints.md 须有 思路 和 关键一步 两个小节"),
])
def test_assembler_stops_on_a_broken_exercise(breakage, message, tmp_path):
    assembler = _assembler()
    root = tmp_path / "bank"
    shutil.copytree(os.path.join(SOURCE, "bank"), root)
    victim = root / "04-loops" / "sum-of-digits"
    breakage(str(victim))
    out = tmp_path / "bank.json"
    out.write_text("stale")
    p = subprocess.run([assembler, str(root), str(out)], capture_output=True, text=True)
    assert p.returncode != 0
    assert "04-loops/sum-of-digits" in p.stderr and message in p.stderr, p.stderr
    assert not out.exists(), "a failed run must not leave a bank behind"


def test_assembler_output_is_stable(tmp_path):
    assembler = _assembler()
    first, second = tmp_path / "a.json", tmp_path / "b.json"
    for out in (first, second):
        subprocess.run([assembler, os.path.join(SOURCE, "bank"), str(out)], check=True, capture_output=True)
    assert first.read_bytes() == second.read_bytes()
    bundled = os.path.join(APP or "", "data", "bank.json")
    if APP and os.path.exists(bundled):
        with open(bundled, "rb") as f:
            assert f.read() == first.read_bytes()


# ---- the running program judges every exercise ------------------------------------------

class Program:
    """The running program in a temporary copy of its folder (the shared harness)."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="tavrin-bank-")
        self.app = Tavrin.start(copy_app(Path(self.dir) / "app"))

    def post(self, path, body):
        r = self.app.post(path, json.dumps(body).encode(), {"Content-Type": "application/json"},
                          timeout=300)
        return r.status, r.body.decode("utf-8", "replace")

    def judge(self, ex, code, mode="test", lang=None):
        status, text = self.post("/api/judge", {"id": ex["id"], "code": code, "mode": mode,
                                               "lang": lang or ex["lang"]})
        assert status == 200, text
        return json.loads(text)

    def stop(self):
        try:
            self.app.stop()
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)


@pytest.fixture(scope="module")
def program():
    if not APP or not EXE or not os.path.exists(EXE):
        pytest.skip("no built program (TAVRIN_APP / TAVRIN_EXE)")
    p = Program()
    try:
        status, text = p.post("/api/judge", {"id": "no-such-exercise", "code": "int main(void){return 0;}"})
        answer = json.loads(text) if status == 200 else {}
        # the server's not-found answer: the judge route is not wired in yet
        if status == 404 or answer.get("error") == "接口不存在或文件不可读取。":
            pytest.skip("/api/judge is not wired into the server yet")
        assert answer == {"error": "题目已更新或不存在，请刷新题库。"}, text
        # The compiler is looked for only once the exercise is known.
        first = BY_ID[sorted(BY_ID)[0]]
        verdict = p.judge(first, first["reference"], "sample")
        for missing in ("没有找到编译器", "没有找到 g++"):
            if missing in verdict.get("error", ""):
                pytest.skip("the program found no compiler in this lane: " + verdict["error"])
        yield p
    finally:
        p.stop()


def _summary(verdict):
    if not verdict.get("compiled", False):
        return verdict.get("error") or verdict.get("diagnostics", "")[:2000]
    bad = [c for c in verdict["cases"] if c["status"] != "passed"]
    return json.dumps(bad[:2], ensure_ascii=False)[:2000]


@pytest.mark.parametrize("ex_id", sorted(BY_ID))
def test_judge_accepts_every_reference(program, ex_id):
    ex = BY_ID[ex_id]
    for mode, kind in (("test", "tests"), ("sample", "samples")):
        verdict = program.judge(ex, ex["reference"], mode)
        assert verdict.get("status") == "accepted", f"{mode}: {_summary(verdict)}"
        assert verdict["total"] == len(ex[kind])


@pytest.mark.parametrize("ex_id", sorted(BY_ID))
def test_judge_compiles_every_starter(program, ex_id):
    ex = BY_ID[ex_id]
    verdict = program.judge(ex, ex["starter"], "sample")
    assert verdict.get("compiled") is True, _summary(verdict)


@pytest.mark.parametrize("ex_id,name", WRONG)
def test_judge_refuses_every_wrong_solution(program, ex_id, name):
    ex = BY_ID[ex_id]
    verdict = program.judge(ex, ex["wrong"][name], "test", "cpp" if name.endswith(".cpp") else "c")
    assert verdict.get("compiled") is True, _summary(verdict)
    assert verdict["status"] == "failed"
    assert verdict["passed"] < verdict["total"]


# ---- the same programs built for Windows, run under Wine ---------------------------------
#
# Learners run on Windows, where `long` has 32 bits and the C runtime is another one. Every
# reference and every kept wrong solution is cross-compiled with the judge's flags and run on
# its cases by tests/integration/bank_runner.cpp, a Windows program that starts each solution
# itself (one Wine start for the whole bank instead of one per case) and compares outputs with
# the judge's own comparison code.

WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run.sh")
MINGW = {"c": "x86_64-w64-mingw32-gcc", "cpp": "x86_64-w64-mingw32-g++"}
wine_lane = pytest.mark.skipif(
    LANE != "windows" or not all(shutil.which(c) for c in MINGW.values()) or not shutil.which("wine"),
    reason="the Windows builds of the bank run in the windows lane (mingw-w64 and Wine)")


def judge_flags():
    """The compile lines of the judge itself, minus the file names, by language."""
    with open(os.path.join(SOURCE, "src", "judge", "workspace.cpp"), encoding="utf-8") as f:
        source = f.read()
    flags = {}
    for lang, name in (("c", "lang_c"), ("cpp", "lang_cpp")):
        block = re.search(r"const judge_language " + name + r"\{(.*?)\};", source, re.S).group(1)
        literals = "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', block))
        line = re.search(r"(-std=\S+.*?)solution\.c(?:pp)? -o solution\.exe", literals).group(1)
        flags[lang] = line.split()
    return flags


def _mingw_files(name):
    """Where the cross compiler keeps a runtime file (its own search list)."""
    p = subprocess.run([MINGW["c"], f"-print-file-name={name}"], capture_output=True, text=True)
    found = p.stdout.strip()
    candidates = [found] if os.path.isabs(found) else []
    candidates.append(os.path.join("/usr/x86_64-w64-mingw32/lib", name))
    return [c for c in dict.fromkeys(candidates) if os.path.exists(c)]


def _distinct(ex, cases):
    """The cases with distinct (input, expected output) texts, first occurrence kept."""
    seen, kept = set(), []
    for i, o in cases:
        with open(i, "rb") as fi, open(o, "rb") as fo:
            content = (fi.read(), fo.read())
        if content not in seen:
            seen.add(content)
            kept.append((i, o))
    return kept


def _win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _case_files(ex, kind):
    folder = os.path.join(ex["folder"], kind)
    return [(os.path.join(folder, f"{i}.in"), os.path.join(folder, f"{i}.out"))
            for i in range(1, len(ex[kind]) + 1)]


@pytest.fixture(scope="module")
def windows_verdicts(tmp_path_factory):
    """{(exercise id, program name): verdict letters} for every reference ("reference",
    samples then tests) and wrong solution (tests, stopping at the first refusal), plus the
    compile diagnostics of anything that did not build."""
    work = tmp_path_factory.mktemp("bank-windows")
    timings = {}
    flags = judge_flags()
    # Builds are kept by content (compiler, flags, sources) in the build folder, so a second run
    # compiles only what changed.
    cache = Path(BUILD) / "bank-wine-cache" if BUILD and os.path.isdir(BUILD) else work / "cache"
    cache.mkdir(parents=True, exist_ok=True)
    versions = {lang: subprocess.run([cc, "--version"], capture_output=True, text=True).stdout
                for lang, cc in MINGW.items()}

    def cached(lang, texts):
        digest = hashlib.sha256("\0".join([versions[lang]] + texts).encode()).hexdigest()
        return cache / f"{digest[:32]}.exe"

    def keep(built_exe, exe):
        partial = exe.with_suffix(f".{os.getpid()}.{built_exe.stem}.tmp")
        shutil.copyfile(built_exe, partial)
        os.replace(partial, exe)

    runner_sources = [os.path.join(HERE, "bank_runner.cpp"), os.path.join(SOURCE, "src", "judge", "compare.cpp")]
    runner_headers = [os.path.join(SOURCE, "src", *p.split("/"))
                      for p in ("judge/judge_internal.h", "json/text_buffer.h", "platform/proc.h")]
    runner_flags = ["-std=c++20", "-O2", "-I", os.path.join(SOURCE, "src"), "-static"]
    runner = cached("cpp", [" ".join(runner_flags)] + [Path(f).read_text(encoding="utf-8")
                                                        for f in runner_sources + runner_headers])
    if not runner.exists():
        built_runner = work / "bank_runner.exe"
        built = subprocess.run([MINGW["cpp"]] + runner_flags + runner_sources + ["-o", str(built_runner)],
                               capture_output=True, text=True, timeout=1200)
        assert built.returncode == 0, built.stderr
        keep(built_runner, runner)

    # Every Wine process start is costly, so a case whose input and expected output both repeat
    # an earlier one of the same program runs once (samples often reappear among the tests), and
    # a wrong solution meets the tests newest first (the edge cases that refuse it come last)
    # and stops at its first refusal.
    jobs = []  # (key, lang, source, cases, stop, time limit ms)
    for ex in EXERCISES:
        cases = _case_files(ex, "samples") + _case_files(ex, "tests")
        jobs.append(((ex["id"], "reference"), ex["lang"], ex["reference"], _distinct(ex, cases), False, 10000))
        for name, source in ex["wrong"].items():
            lang = "cpp" if name.endswith(".cpp") else "c"
            jobs.append(((ex["id"], name), lang, source, _case_files(ex, "tests")[::-1], True, 3000))

    def compile_one(index_job):
        index, (key, lang, source, _cases, _stop, _limit) = index_job
        exe = cached(lang, [" ".join(flags[lang]), source])
        if exe.exists():
            return key, exe, ""
        src = work / f"p{index}{check.EXT[lang]}"
        built_exe = work / f"p{index}.exe"
        src.write_text(source, encoding="utf-8")
        p = subprocess.run([MINGW[lang]] + flags[lang] + [str(src), "-o", str(built_exe)],
                           capture_output=True, text=True, timeout=600)
        if p.returncode != 0:
            return key, None, p.stderr
        keep(built_exe, exe)
        return key, exe, p.stderr

    exes, problems = {}, {}
    started = time.monotonic()
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for key, exe, diag in pool.map(compile_one, enumerate(jobs)):
            if exe:
                exes[key] = exe
            else:
                problems[key] = "does not compile for Windows:\n" + diag
    timings["compile"] = time.monotonic() - started
    for stale in set(cache.iterdir()) - set(exes.values()) - {runner}:  # builds of sources that changed since
        stale.unlink(missing_ok=True)

    plans = {}
    for key, _lang, _source, cases, stop, limit in jobs:
        if key not in exes:
            continue
        name = f"{key[0]}/{key[1]}"
        plans[name] = ["\t".join(["P", name, _win_path(exes[key]), BY_ID[key[0]]["compare"],
                                   "1" if stop else "0", str(limit)])]
        plans[name] += ["\t".join(["C", _win_path(i), _win_path(o)]) for i, o in cases]
    # The cross compiler's threads library is a DLL; on a learner's machine it sits beside the
    # toolchain's gcc.exe, here Wine is told where to find it.
    env = dict(os.environ)
    dll_dirs = [os.path.dirname(p) for p in _mingw_files("libwinpthread-1.dll")]
    if dll_dirs:
        env["WINEPATH"] = ";".join(_win_path(d) for d in dll_dirs)

    def read_results(result_file):
        """{program name: its lines}, whole lines only (a stopped runner may leave half of one)."""
        text = result_file.read_text(encoding="utf-8") if result_file.exists() else ""
        results = {}
        for line in text.split("\n")[:-1]:
            name = (line[2:] if line.startswith("# ") else line).partition(" ")[0]
            results.setdefault(name, []).append(line)
        return results

    def run_runner(names, attempt):
        """Runs the named programs; ends early when no program has finished for STALL seconds
        (each writes its line when done, and none needs nearly that long). Returns the result
        file, the runner's exit code (None when stopped) and the end of its log."""
        plan_file, result_file = work / f"plan{attempt}.txt", work / f"result{attempt}.txt"
        plan_file.write_text("\n".join(line for n in names for line in plans[n]) + "\n", encoding="utf-8")
        log_file = work / f"runner{attempt}.log"
        # Output into a file, not a pipe: a process Wine starts on the side may keep a pipe open
        # long after the runner has ended.
        with open(log_file, "wb") as log:
            process = subprocess.Popen([WINE_RUN, str(runner), _win_path(plan_file), _win_path(result_file), "4"],
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log, env=env,
                                       start_new_session=True)
            seen, last_change = -1, time.monotonic()
            code = None
            while code is None:
                try:
                    code = process.wait(timeout=2)
                except subprocess.TimeoutExpired:
                    size = result_file.stat().st_size if result_file.exists() else 0
                    if size != seen:
                        seen, last_change = size, time.monotonic()
                    elif time.monotonic() - last_change > STALL:
                        os.killpg(process.pid, signal.SIGKILL)  # the runner and the runs it started
                        process.wait()
                        break
        return result_file, code, log_file.read_text(encoding="utf-8", errors="replace")[-3000:]

    # A run that stalls (a Wine process that never comes back, on a loaded machine) is stopped and
    # its unfinished programs run once more in a runner of their own; a second stall fails.
    STALL = 240
    started = time.monotonic()
    result_lines, pending = [], list(plans)
    for attempt in (1, 2):
        result_file, code, log_tail = run_runner(pending, attempt)
        done = {n: lines for n, lines in read_results(result_file).items() if n in pending}
        result_lines += [line for lines in done.values() for line in lines]
        unfinished = [n for n in pending if n not in done]
        if code == 0 and not unfinished:
            break
        sys.stderr.write(f"bank runner (attempt {attempt}): exit {code}, unfinished {unfinished[:20]}\n{log_tail}\n")
        pending = unfinished
    assert code == 0 and not unfinished, \
        f"the Wine runner stalled or failed twice (exit {code}); unfinished: {unfinished[:20]}\n{log_tail}"
    timings["wine"] = time.monotonic() - started
    verdicts, outputs = {}, {}
    for line in result_lines:
        if line.startswith("# "):
            name, _, rest = line[2:].partition(" ")
            number, _, shown = rest.partition(" ")
            ex_id, _, program = name.partition("/")
            outputs[(ex_id, program, int(number))] = shown
            continue
        name, _, letters = line.partition(" ")
        ex_id, _, program = name.partition("/")
        verdicts[(ex_id, program)] = letters
    runs = sum(len(v.rstrip("S")) for v in verdicts.values())
    sys.stderr.write(f"bank under Wine: {len(jobs)} programs, compiled in {timings['compile']:.0f} s, "
                     f"{runs} runs in {timings['wine']:.0f} s\n")
    return verdicts, problems, outputs


def test_judge_flags_are_read_from_the_judge():
    flags = judge_flags()
    assert flags["c"][0] == "-std=c99" and "-pedantic-errors" in flags["c"]
    assert flags["cpp"][0] == "-std=c++11" and "-static-libstdc++" in flags["cpp"]
    assert all("solution" not in f for f in flags["c"] + flags["cpp"])


@wine_lane
@pytest.mark.parametrize("ex_id", sorted(BY_ID))
def test_windows_build_of_the_reference_passes_every_case(windows_verdicts, ex_id):
    verdicts, problems, outputs = windows_verdicts
    key = (ex_id, "reference")
    assert key not in problems, problems.get(key)
    ex = BY_ID[ex_id]
    cases = _distinct(ex, _case_files(ex, "samples") + _case_files(ex, "tests"))
    letters = verdicts[key]
    assert len(letters) == len(cases)
    bad = [f"{os.path.relpath(i, ex['folder'])}: {v} {outputs.get((ex_id, 'reference', n), '')}"
           for n, ((i, _o), v) in enumerate(zip(cases, letters), 1) if v != "P"]
    assert not bad, f"under Wine (P passed, W wrong, R exit code, T time, O output, L launch): {bad}"


@wine_lane
@pytest.mark.parametrize("ex_id,name", WRONG)
def test_windows_build_of_a_wrong_solution_is_refused(windows_verdicts, ex_id, name):
    verdicts, problems, _outputs = windows_verdicts
    key = (ex_id, name)
    assert key not in problems, "a wrong solution must compile, so that the cases are what refuses it: " \
        + problems.get(key, "")
    letters = verdicts[key]
    assert letters and set(letters) != {"P"}, f"wrong/{name} passes every test under Wine"
    assert letters.rstrip("S")[-1] != "L", f"wrong/{name} could not be started under Wine: {letters}"
