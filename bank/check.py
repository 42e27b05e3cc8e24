#!/usr/bin/env python3
"""Checks the authored exercises with the real compilers, the way the judge does.

For every exercise: the reference compiles warning-free with the judge's flags and
its output matches every sample and test; the starter compiles; every solution under
wrong/ fails at least one test. Outputs are compared by tokens or as numbers with the
judge's tolerance.

    python3 bank/check.py [--write-missing] [exercise-id ...]

--write-missing writes the reference's output for any case without a .out file
(authoring aid: read the new files before committing them).
--ranges checks only that every sample and test input lies inside the ranges the
exercise states (its ranges.txt), without compiling anything.
--coverage writes each exercise's coverage.md: the tests that refuse each kept wrong
solution, and the tests that reach each bound of its ranges (gaps are marked).

ranges.txt describes the input, one statement a line, read in order ("#" starts a comment):
    int NAME LO HI        next token, a decimal integer from LO to HI
    real NAME LO HI D     next token, a decimal number from LO to HI with at most D decimals
    word NAME REGEX       next token, matching REGEX whole (groups become NAME_1, NAME_2, ...)
    line NAME REGEX       the next whole line (without its line end), matching REGEX whole
    repeat EXPR ... end   the statements between, EXPR times
    more LO HI ... end    the statements between, again and again until the input ends,
                          LO to HI times
    check EXPR            EXPR must hold
LO, HI and EXPR are Python expressions over the names read so far (the latest value);
all_NAME is the list of every value NAME took, INPUT the whole input. After the last statement only white
space may remain.
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


def parse_hints(text):
    """hints.md as the list of its section bodies (思路, 关键一步), as the assembler reads it."""
    bodies, current = [], None
    for line in text.split("\n"):
        if line.startswith("## "):
            if current is not None:
                bodies.append(current)
            current = []
        elif current is not None:
            current.append(line)
    if current is not None:
        bodies.append(current)
    out = []
    for body in bodies:
        while body and not body[0].strip(" \t"):
            body = body[1:]
        out.append("\n".join(body).rstrip(" \t\n"))
    return out


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
        hints_path = os.path.join(dirpath, "hints.md")
        ex["hints"] = parse_hints(read(hints_path)) if os.path.exists(hints_path) else None
        ex["samples"] = read_cases(dirpath, "samples", missing_ok)
        ex["tests"] = read_cases(dirpath, "tests", missing_ok)
        wrong_dir = os.path.join(dirpath, "wrong")
        ex["wrong"] = {}
        if os.path.isdir(wrong_dir):
            for name in sorted(os.listdir(wrong_dir)):
                ex["wrong"][name] = read(os.path.join(wrong_dir, name))
        out.append(ex)
    out.sort(key=lambda e: (e["topic"], e["lang"] == "cpp", e["stars"], e["id"]))
    return out


class RangeError(Exception):
    pass


_INT = re.compile(r"[+-]?\d+")
_REAL = re.compile(r"[+-]?(\d+)(?:\.(\d*))?")


def parse_ranges(text):
    """ranges.txt as a nested list of (line number, op, args) with blocks for repeat/more."""
    root, stack = [], []
    current = root
    for number, raw in enumerate(text.split("\n"), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        op, _, rest = line.partition(" ")
        rest = rest.strip()
        if op in ("int", "real"):
            parts = rest.split()
            want = 4 if op == "int" else 5
            if len(parts) != want - 1 and not (op == "real" and len(parts) == 4):
                raise RangeError(f"ranges.txt:{number}: {op} needs {want - 1} arguments")
            current.append((number, op, parts))
        elif op in ("word", "line"):
            name, _, regex = rest.partition(" ")
            if not name or not regex.strip():
                raise RangeError(f"ranges.txt:{number}: {op} needs a name and a pattern")
            current.append((number, op, [name, re.compile(regex.strip())]))
        elif op == "check":
            current.append((number, op, [rest]))
        elif op in ("repeat", "more"):
            block = []
            current.append((number, op, [rest, block]))
            stack.append(current)
            current = block
        elif op == "end":
            if not stack:
                raise RangeError(f"ranges.txt:{number}: end without repeat or more")
            current = stack.pop()
        else:
            raise RangeError(f"ranges.txt:{number}: unknown statement {op!r}")
    if stack:
        raise RangeError("ranges.txt: a repeat or more is not closed with end")
    return root


_SAFE = {"len": len, "all": all, "any": any, "sorted": sorted, "set": set, "zip": zip, "range": range,
         "sum": sum, "abs": abs, "min": min, "max": max, "int": int}


class _Input:
    def __init__(self, text):
        self.text, self.pos = text, 0

    def token(self, what):
        t, n = self.text, len(self.text)
        while self.pos < n and t[self.pos] in " \t\r\n\v\f":
            self.pos += 1
        start = self.pos
        while self.pos < n and t[self.pos] not in " \t\r\n\v\f":
            self.pos += 1
        if start == self.pos:
            raise RangeError(f"the input ends where {what} should come")
        return t[start:self.pos]

    def line(self, what):
        t = self.text
        if self.pos > 0 and t[self.pos - 1] != "\n":
            end = t.find("\n", self.pos)
            rest = t[self.pos:] if end < 0 else t[self.pos:end]
            if rest.strip():
                raise RangeError(f"unexpected {rest.strip()[:30]!r} before {what}")
            if end < 0:
                raise RangeError(f"the input ends where {what} should come")
            self.pos = end + 1
        if self.pos >= len(t):
            raise RangeError(f"the input ends where {what} should come")
        end = t.find("\n", self.pos)
        if end < 0:
            end = len(t)
        value = t[self.pos:end]
        self.pos = min(end + 1, len(t))
        return value[:-1] if value.endswith("\r") else value

    def more(self):
        return bool(self.text[self.pos:].strip())


def check_input(spec, text, bounds=None):
    """None when text fits the parsed ranges, else what is wrong. bounds, when given, collects
    the (name, "min" | "max", bound text) of every value read that sits on a bound."""
    env = {"INPUT": text}

    def value(expr, number):
        try:
            # one namespace, so that names are seen inside generator expressions too
            return eval(expr, {"__builtins__": {}, **_SAFE, **env})  # noqa: S307 (our own files)
        except Exception as e:  # a typo in ranges.txt must be reported, not crash the check
            raise RangeError(f"ranges.txt:{number}: cannot evaluate {expr!r}: {e}")

    def note(name, v, low, high, lo, hi):
        if bounds is not None:
            if v == low:
                bounds.add((name, "min", lo))
            if v == high:
                bounds.add((name, "max", hi))

    def keep(name, v):
        env[name] = v
        env.setdefault("all_" + name, []).append(v)

    def run(block):
        for number, op, args in block:
            if op == "int":
                name, lo, hi = args
                tok = src.token(name)
                if not _INT.fullmatch(tok):
                    raise RangeError(f"{name} = {tok[:30]!r} is not an integer")
                v = int(tok)
                low, high = value(lo, number), value(hi, number)
                if not low <= v <= high:
                    raise RangeError(f"{name} = {v} outside {lo} .. {hi}")
                note(name, v, low, high, lo, hi)
                keep(name, v)
            elif op == "real":
                name, lo, hi = args[:3]
                places = int(args[3]) if len(args) > 3 else 99
                tok = src.token(name)
                m = _REAL.fullmatch(tok)
                if not m:
                    raise RangeError(f"{name} = {tok[:30]!r} is not a decimal number")
                if m.group(2) is not None and len(m.group(2)) > places:
                    raise RangeError(f"{name} = {tok} has more than {places} decimals")
                v = float(tok)
                low, high = value(lo, number), value(hi, number)
                if not low <= v <= high:
                    raise RangeError(f"{name} = {tok} outside {lo} .. {hi}")
                note(name, v, low, high, lo, hi)
                keep(name, v)
            elif op in ("word", "line"):
                name, regex = args
                got = src.token(name) if op == "word" else src.line(name)
                m = regex.fullmatch(got)
                if not m:
                    raise RangeError(f"{name} = {got[:40]!r} does not match {regex.pattern}")
                keep(name, got)
                for i, g in enumerate(m.groups(), 1):
                    env[f"{name}_{i}"] = int(g) if g is not None and _INT.fullmatch(g) else g
            elif op == "check":
                if not value(args[0], number):
                    raise RangeError(f"fails: {args[0]}")
            elif op == "repeat":
                for _ in range(value(args[0], number)):
                    run(args[1])
            elif op == "more":
                lo, hi = args[0].split()
                count = 0
                while src.more():
                    run(args[1])
                    count += 1
                if not value(lo, number) <= count <= value(hi, number):
                    raise RangeError(f"{count} repetitions, outside {lo} .. {hi}")

    src = _Input(text)
    try:
        run(spec)
        if src.more():
            raise RangeError(f"left over after the last value: {src.text[src.pos:].strip()[:40]!r}")
    except RangeError as e:
        return str(e)
    return None


def check_ranges(ex):
    """Problems with the exercise's stated ranges: missing file, or an input outside them."""
    path = os.path.join(ex["folder"], "ranges.txt")
    if not os.path.exists(path):
        return ["ranges.txt missing"]
    try:
        spec = parse_ranges(read(path))
    except RangeError as e:
        return [str(e)]
    problems = []
    for kind in ("samples", "tests"):
        for i, case in enumerate(ex[kind], 1):
            why = check_input(spec, case["input"])
            if why:
                problems.append(f"{kind}/{i}.in outside the stated ranges: {why}")
    return problems


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
    problems = check_ranges(ex)
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


def declared_bounds(block, out=None):
    """(name, "min" | "max", bound text) of every int and real statement, in file order."""
    out = [] if out is None else out
    for _number, op, args in block:
        if op in ("int", "real"):
            out += [(args[0], "min", args[1]), (args[0], "max", args[2])]
        elif op in ("repeat", "more"):
            declared_bounds(args[1], out)
    return out


def write_coverage(ex):
    """coverage.md: which test refuses each kept wrong solution, and which test reaches each
    bound of the stated ranges; what nothing covers is listed as a gap."""
    spec = parse_ranges(read(os.path.join(ex["folder"], "ranges.txt")))
    lines = [f"# {ex['id']}：测试覆盖表", "",
             "由 `python3 bank/check.py --coverage` 生成。每个错误写法代表题面里的一条规则或一个坑；"
             "每个边界是范围里的一个界。", "",
             "| 规则（错误写法） | 拒绝它的测试 |", "|---|---|"]
    with tempfile.TemporaryDirectory(prefix="bank-cover-") as work:
        for name, source in ex["wrong"].items():
            wexe, _ = compile_source("cpp" if name.endswith(".cpp") else "c", source, work, "wrong")
            refusing = []
            for i, case in enumerate(ex["tests"], 1):
                if not wexe:
                    break
                code, out = run(wexe, case["input"], timeout=3)
                if code != 0 or not outputs_match(out, case["output"] or "", ex["compare"]):
                    refusing.append(f"tests/{i}")
            lines.append(f"| wrong/{name} | {', '.join(refusing) or '**没有（缺口）**'} |")
    lines += ["", "| 边界 | 取到它的测试 |", "|---|---|"]
    reached = {}
    for i, case in enumerate(ex["tests"], 1):
        hits = set()
        check_input(spec, case["input"], hits)
        for hit in hits:
            reached.setdefault(hit, []).append(f"tests/{i}")
    seen = set()
    for bound in declared_bounds(spec):
        if bound in seen:
            continue
        seen.add(bound)
        name, side, text = bound
        label = f"{name} {'最小' if side == 'min' else '最大'} {text}"
        lines.append(f"| {label} | {', '.join(reached.get(bound, [])) or '**没有（缺口）**'} |")
    with open(os.path.join(ex["folder"], "coverage.md"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return []


def main(argv):
    write_missing = "--write-missing" in argv
    ranges_only = "--ranges" in argv
    wanted = {a for a in argv if not a.startswith("--")}
    exercises = [e for e in load(missing_ok=True) if not wanted or e["id"] in wanted]
    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        if "--coverage" in argv:
            def job(e):
                return e, write_coverage(e)
        elif ranges_only:
            def job(e):
                return e, check_ranges(e)
        else:
            def job(e):
                return e, check_exercise(e, write_missing)
        results = pool.map(job, exercises)
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
