#!/usr/bin/env python3
"""End-to-end judge cost: a 20-case C and a 20-case C++ exercise through POST /api/judge,
against a bare baseline measured in the same run (the same compiler command line, then the
20 runs from a shell loop). Two scenes: code judged for the first time (each round's code new
to the compile cache), and "run samples, then submit, same code" (the submit's time). Prints
times and ratios; asserts nothing.

Usage: bench/judge_e2e_bench.py [program folder]   (default build/linux/app)
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))
if len(sys.argv) > 1:
    os.environ["TAVRIN_APP"] = sys.argv[1]
from tavrin import Tavrin, copy_app  # noqa: E402

C_CODE = '#include <stdio.h>\nint main(void){int a,b;if(scanf("%d %d",&a,&b)!=2)return 1;printf("%d\\n",a+b);return 0;}\n'
CPP_CODE = "#include <iostream>\nint main(){int a,b;std::cin>>a>>b;std::cout<<a+b<<std::endl;}\n"
C_ARGS = ("-std=c99 -Wall -Wextra -Wshadow -Wformat=2 -pedantic-errors -O0 -D__USE_MINGW_ANSI_STDIO=1 "
          "-finput-charset=UTF-8 -fexec-charset=UTF-8 solution.c -o solution.exe")
CPP_ARGS = ("-std=c++11 -Wall -Wextra -Wshadow -Wformat=2 -pedantic-errors -O0 -static-libstdc++ "
            "-static-libgcc -finput-charset=UTF-8 -fexec-charset=UTF-8 solution.cpp -o solution.exe")
# The judge links the maths library where it is separate from the C library.
if sys.platform.startswith("linux"):
    C_ARGS += " -lm"
    CPP_ARGS += " -lm"
ROUNDS = 15

cases = [{"input": f"{i} {i * 7}\n", "output": f"{i * 8}\n"} for i in range(1, 21)]
bank = json.loads((ROOT / "tests" / "fixtures" / "bank" / "small.json").read_text())
question = next(q for q in bank["questions"] if q["id"] == "sum-two")
question["tests"] = cases


def baseline(code, source, compiler, args):
    with tempfile.TemporaryDirectory() as d:
        Path(d, source).write_text(code)
        for i, c in enumerate(cases):
            Path(d, f"in{i}.txt").write_text(c["input"])
        t0 = time.perf_counter()
        subprocess.run(f'"{compiler}" {args}', shell=True, cwd=d, check=True)
        subprocess.run("for i in $(seq 0 19); do ./solution.exe < in$i.txt > out$i.txt 2>&1; done",
                       shell=True, cwd=d, check=True)
        return time.perf_counter() - t0


def main():
    with tempfile.TemporaryDirectory() as d:
        app = Tavrin.start(copy_app(Path(d) / "app", bank=json.dumps(bank).encode()))
        try:
            for label, code, lang, source, compiler, args, goal in (
                    ("C", C_CODE, None, "solution.c", "gcc", C_ARGS, 1.10),
                    ("C++", CPP_CODE, "cpp", "solution.cpp", "g++", CPP_ARGS, 1.03)):
                body = {"id": "sum-two", "code": code}
                if lang:
                    body["lang"] = lang
                first, repeat, bare, hit_ms = [], [], [], []
                for r in range(ROUNDS):  # interleaved, so all see the same machine state
                    # A comment makes each round's code new to the cache.
                    fresh = dict(body, code=code + f"/* {label} {r} {time.time_ns()} */\n")
                    t0 = time.perf_counter()
                    v = app.post("/api/judge", json.dumps(fresh).encode()).json()
                    first.append(time.perf_counter() - t0)
                    assert v.get("status") == "accepted", v
                    bare.append(baseline(code, source, compiler, args))
                    again = dict(body, code=code + f"/* {label} {r} again {time.time_ns()} */\n")
                    v = app.post("/api/judge", json.dumps(dict(again, mode="sample")).encode()).json()
                    assert v.get("status") == "accepted", v
                    t0 = time.perf_counter()
                    v = app.post("/api/judge", json.dumps(again).encode()).json()
                    repeat.append(time.perf_counter() - t0)
                    assert v.get("status") == "accepted", v
                    hit_ms.append(v["compileMs"])
                f, s, b = (statistics.median(x) for x in (first, repeat, bare))
                print(f"{label}: first judging {f * 1000:.1f} ms, bare {b * 1000:.1f} ms, "
                      f"ratio {f / b:.3f}x (goal <= {goal}x)")
                print(f"{label}: run samples, then submit, same code: submit {s * 1000:.1f} ms, "
                      f"ratio {s / b:.3f}x of bare (goal <= 0.3x); its compile from the cache "
                      f"{statistics.median(hit_ms)} ms")
        finally:
            app.stop()


if __name__ == "__main__":
    main()
