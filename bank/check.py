#!/usr/bin/env python3
"""Checks the authored exercises with the real compilers, the way the judge does.

For every exercise: the reference compiles warning-free with the judge's flags and
its output matches every sample and test; the starter compiles; every solution under
wrong/ fails at least one test. Outputs are compared by tokens or as numbers with the
judge's tolerance.

    python3 bank/check.py [--write-missing] [exercise-id ...]

--write-missing writes the reference's output for any case without a .out file
(authoring aid: read the new files before committing them).
"""
import concurrent.futures
import json
import math
import os
import re
import subprocess
import sys
import tempfile

BANK = os.path.dirname(os.path.abspath(__file__))

FLAGS = {
    "c": ["gcc", "-std=c99", "-Wall", "-Wextra", "-Wshadow", "-Wformat=2", "-pedantic-errors", "-O0",
          "-finput-charset=UTF-8", "-fexec-charset=UTF-8"],
    "cpp": ["g++", "-std=c++11", "-Wall", "-Wextra", "-Wshadow", "-Wformat=2", "-pedantic-errors", "-O0",
            "-static-libstdc++", "-static-libgcc", "-finput-charset=UTF-8", "-fexec-charset=UTF-8"],
}
EXT = {"c": ".c", "cpp": ".cpp"}
SECTIONS = {"情境": "scenario", "任务": "task", "输入": "input", "输出": "output", "范围": "constraints"}

_WS = b"\t\n\x0b\x0c\r "
_DEC = re.compile(rb"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
_HEX = re.compile(rb"[+-]?0[xX]([0-9a-fA-F]+\.?[0-9a-fA-F]*|\.[0-9a-fA-F]+)([pP][+-]?\d+)?")


def _strtod_whole(tok):
    """The value strtod gives when it consumes the whole token, else None."""
    if _DEC.fullmatch(tok):
        return float(tok)
    if _HEX.fullmatch(tok):
        text = tok.decode()
        if "p" not in text.lower():
            text += "p0"
        return float.fromhex(text)
    low = tok.lower().lstrip(b"+-")
    if low in (b"inf", b"infinity") or re.fullmatch(rb"nan(\([0-9a-z_]*\))?", low):
        return math.inf  # non-finite: never matches
    return None


def outputs_match(actual, expected, mode):
    """Whitespace-separated tokens equal; in float mode numbers may differ by 1e-6 x max(1, |e|)."""
    if isinstance(actual, str):
        actual = actual.encode()
    if isinstance(expected, str):
        expected = expected.encode()
    # bytes.split() splits on exactly the C locale's isspace set
    a_tokens = actual.split()
    e_tokens = expected.split()
    for i in range(max(len(a_tokens), len(e_tokens))):
        if i >= len(a_tokens) or i >= len(e_tokens):
            return False
        a, e = a_tokens[i], e_tokens[i]
        if a == e:
            continue
        if mode != "float":
            return False
        av, ev = _strtod_whole(a), _strtod_whole(e)
        if av is None or ev is None or not math.isfinite(av) or not math.isfinite(ev):
            return False
        if abs(av - ev) > 1e-6 * max(1.0, abs(ev)):
            return False
    return True


def read(path):
    with open(path, "rb") as f:
        return f.read().replace(b"\r\n", b"\n").decode("utf-8")


def read_cases(folder, kind, missing_ok=False):
    d = os.path.join(folder, kind)
    cases = []
    n = 1
    while os.path.exists(os.path.join(d, f"{n}.in")):
        out_path = os.path.join(d, f"{n}.out")
        out = read(out_path) if os.path.exists(out_path) else None
        if out is None and not missing_ok:
            raise FileNotFoundError(out_path)
        cases.append({"input": read(os.path.join(d, f"{n}.in")), "output": out, "path": out_path})
        n += 1
    return cases


def parse_text(text):
    fields, current, body = {}, None, []
    for line in text.split("\n"):
        if line.startswith("## "):
            if current:
                fields[current] = "\n".join(body).strip("\n")
            current, body = SECTIONS[line[3:].strip()], []
        elif line.startswith("# ") and current is None:
            fields["title"] = line[2:].strip()
        elif current:
            body.append(line)
    if current:
        fields[current] = "\n".join(body).strip("\n")
    return fields


def load(missing_ok=False):
    """Every exercise folder as a dict, sorted like the bundled bank."""
    out = []
    for dirpath, _dirs, files in os.walk(BANK):
        if "meta.json" not in files:
            continue
        with open(os.path.join(dirpath, "meta.json"), encoding="utf-8") as f:
            ex = json.load(f)
        ex["folder"] = dirpath
        ext = EXT[ex["lang"]]
        ex["starter"] = read(os.path.join(dirpath, "starter" + ext))
        ex["reference"] = read(os.path.join(dirpath, "reference" + ext))
        ex.update(parse_text(read(os.path.join(dirpath, "text.md"))))
        ex["samples"] = read_cases(dirpath, "samples", missing_ok)
        ex["tests"] = read_cases(dirpath, "tests", missing_ok)
        wrong_dir = os.path.join(dirpath, "wrong")
        ex["wrong"] = {}
        if os.path.isdir(wrong_dir):
            for name in sorted(os.listdir(wrong_dir)):
                ex["wrong"][name] = read(os.path.join(wrong_dir, name))
        out.append(ex)
    out.sort(key=lambda e: (e["topic"], e["stars"], e["id"]))
    return out


def compile_source(lang, source, work, name):
    src = os.path.join(work, name + EXT[lang])
    exe = os.path.join(work, name + ".exe")
    with open(src, "w", encoding="utf-8") as f:
        f.write(source)
    # The Windows C runtime carries the maths functions; on Linux they live in libm, which
    # the judge must link too, or every exercise that uses <math.h> would be refused there.
    libs = ["-lm"] if sys.platform.startswith("linux") else []
    p = subprocess.run(FLAGS[lang] + [src, "-o", exe] + libs, capture_output=True, text=True, timeout=120)
    return (exe if p.returncode == 0 else None), p.stderr + p.stdout


def run(exe, data, timeout=5):
    """(exit code, stdout bytes); exit code None on a time-out."""
    try:
        p = subprocess.run([exe], input=data.encode(), capture_output=True, timeout=timeout)
        return p.returncode, p.stdout
    except subprocess.TimeoutExpired:
        return None, b""


def check_exercise(ex, write_missing=False):
    """List of problems (empty when the exercise is sound)."""
    problems = []
    lang = ex["lang"]
    with tempfile.TemporaryDirectory(prefix="bank-check-") as work:
        exe, diag = compile_source(lang, ex["reference"], work, "reference")
        if not exe:
            return [f"reference does not compile:\n{diag}"]
        if diag.strip():
            problems.append(f"reference has warnings:\n{diag}")
        for kind in ("samples", "tests"):
            for i, case in enumerate(ex[kind], 1):
                code, out = run(exe, case["input"])
                if code != 0:
                    problems.append(f"reference {kind}/{i}: exit {code}")
                    continue
                if case["output"] is None:
                    if write_missing:
                        with open(case["path"], "wb") as f:
                            f.write(out)
                        case["output"] = out.decode()
                    else:
                        problems.append(f"{kind}/{i}.out missing")
                    continue
                if not outputs_match(out, case["output"], ex["compare"]):
                    problems.append(f"reference {kind}/{i}: got {out[:200]!r}, expected {case['output'][:200]!r}")
        if not compile_source(lang, ex["starter"], work, "starter")[0]:
            problems.append("starter does not compile")
        for name, source in ex["wrong"].items():
            wrong_lang = "cpp" if name.endswith(".cpp") else "c"
            wexe, _ = compile_source(wrong_lang, source, work, "wrong")
            if not wexe:
                problems.append(f"wrong/{name} does not compile")
                continue
            refused = False
            for case in ex["tests"]:
                code, out = run(wexe, case["input"], timeout=3)
                if code != 0 or not outputs_match(out, case["output"] or "", ex["compare"]):
                    refused = True
                    break
            if not refused:
                problems.append(f"wrong/{name} passes every test")
    return problems


def main(argv):
    write_missing = "--write-missing" in argv
    wanted = {a for a in argv if not a.startswith("--")}
    exercises = [e for e in load(missing_ok=True) if not wanted or e["id"] in wanted]
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        results = pool.map(lambda e: (e, check_exercise(e, write_missing)), exercises)
        for ex, problems in results:
            status = "ok" if not problems else "FAIL"
            print(f"{status:4} t{ex['topic']} {'*' * ex['stars']:5} {ex['lang']:3} {ex['compare']:6} {ex['id']}"
                  f"  ({len(ex['samples'])} samples, {len(ex['tests'])} tests, {len(ex['wrong'])} wrong)")
            for p in problems:
                print("     " + p.replace("\n", "\n     "))
            failed += bool(problems)
    print(f"{len(exercises) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
