#!/usr/bin/env python3
"""Lists the system calls (and ioctl, fcntl, prctl requests) that the programs we judge make:
every bank reference and kept wrong solution, and the judge's own test programs, in C and C++,
compiled with the judge's flags and run on their cases under strace. The run mode's allow-list
in src/platform/posix/sandbox_posix.cpp is derived from this output.

usage: tools/trace_calls.py [--limit N]   (needs gcc, g++ and strace)
"""
from __future__ import annotations

import collections
import importlib.util
import os
import re
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
spec = importlib.util.spec_from_file_location("bank_check", ROOT / "bank" / "check.py")
check = importlib.util.module_from_spec(spec)
spec.loader.exec_module(check)

LINE = re.compile(r"^(?:\d+\s+)?([a-z_0-9]+)\((.*)")
REQUEST = {"ioctl": 1, "fcntl": 1, "prctl": 0, "arch_prctl": 0}


def programs():
    for ex in check.load():
        inputs = [c["input"] for c in ex["samples"] + ex["tests"]][:2]  # start-up and the calls of real work
        yield ex["id"] + "/reference", ex["lang"], ex["reference"], inputs
        for name, source in ex["wrong"].items():
            yield ex["id"] + "/wrong/" + name, ex["lang"], source, inputs
    for path in sorted((ROOT / "tests" / "fixtures" / "judge").glob("*.c")):
        yield "judge/" + path.name, "c", path.read_text(), ["3\n", ""]


def trace(item, work):
    name, lang, source, inputs = item
    tag = re.sub(r"[^a-zA-Z0-9]", "_", name)
    exe, _ = check.compile_source(lang, source, work, tag)
    found = collections.Counter()
    if not exe:
        return name, found
    for n, data in enumerate(inputs):
        out = os.path.join(work, f"{tag}.{n}.strace")
        try:
            subprocess.run(["strace", "-f", "-qq", "-X", "raw", "-o", out, exe], input=data.encode(),
                           capture_output=True, timeout=10, cwd=work)
        except subprocess.TimeoutExpired:
            pass
        seen_exec = False
        try:
            lines = Path(out).read_text(errors="replace").splitlines()
        except OSError:
            continue
        for line in lines:
            m = LINE.match(line)
            if not m:
                continue
            call, args = m.group(1), m.group(2)
            if call == "execve" and not seen_exec:  # strace's own launch of the program
                seen_exec = True
                continue
            if call in REQUEST:
                parts = [a.strip() for a in args.split(",")]
                idx = REQUEST[call]
                found[f"{call} {parts[idx] if len(parts) > idx else '?'}"] += 1
            else:
                found[call] += 1
    return name, found


def main():
    limit = int(sys.argv[sys.argv.index("--limit") + 1]) if "--limit" in sys.argv else None
    items = list(programs())[:limit]
    total = collections.Counter()
    users = collections.defaultdict(set)
    with tempfile.TemporaryDirectory() as work, ThreadPoolExecutor(max_workers=2) as pool:
        for name, found in pool.map(lambda i: trace(i, work), items):
            total.update(found)
            for k in found:
                users[k].add(name)
    print(f"# {len(items)} programs traced")
    for call, count in sorted(total.items()):
        print(f"{call:40} {count:8}  {len(users[call]):4} programs  e.g. {sorted(users[call])[0]}")


if __name__ == "__main__":
    main()
