#!/usr/bin/env python3
"""The Windows judging path under Wine: one C submission with 20 cases through POST /api/judge
of the real Tavrin.exe (with its own GCC in toolchain/), against the same compile and the same
20 runs from a plain batch loop under Wine, measured in the same run and interleaved. Prints the
medians and their ratio; asserts nothing.

Usage: bench/wine_judge_bench.py [program folder]   (default build/windows/app)
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
os.environ["TAVRIN_LANE"] = "windows"
os.environ["TAVRIN_APP"] = sys.argv[1] if len(sys.argv) > 1 else str(ROOT / "build" / "windows" / "app")
from tavrin import APP, Tavrin, copy_app  # noqa: E402

CODE = '#include <stdio.h>\nint main(void){int a,b;if(scanf("%d %d",&a,&b)!=2)return 1;printf("%d\\n",a+b);return 0;}\n'
ARGS = ("-std=c99 -Wall -Wextra -Wshadow -Wformat=2 -pedantic-errors -O0 -D__USE_MINGW_ANSI_STDIO=1 "
        "-finput-charset=UTF-8 -fexec-charset=UTF-8 solution.c -o solution.exe")
ROUNDS = 7

cases = [{"input": f"{i} {i * 7}\n", "output": f"{i * 8}\n"} for i in range(1, 21)]
bank = json.loads((ROOT / "tests" / "fixtures" / "bank" / "small.json").read_text())
question = next(q for q in bank["questions"] if q["id"] == "sum-two")
question["tests"] = cases


def baseline(gcc, code):
    """Compile and 20 runs from one batch file under one Wine start."""
    with tempfile.TemporaryDirectory() as d:
        Path(d, "solution.c").write_text(code)
        for i, c in enumerate(cases):
            Path(d, f"in{i}.txt").write_text(c["input"])
        win_dir = "Z:" + d.replace("/", "\\")
        win_gcc = "Z:" + str(gcc).replace("/", "\\")
        Path(d, "loop.bat").write_text(
            "@echo off\r\n"
            f'cd /d "{win_dir}"\r\n'
            f'"{win_gcc}" {ARGS} || exit /b 1\r\n'
            "for /L %%i in (0,1,19) do solution.exe < in%%i.txt > out%%i.txt 2>&1\r\n", "ascii")
        t0 = time.perf_counter()
        subprocess.run([str(ROOT / "scripts" / "wine-run.sh"), "cmd", "/c", win_dir + "\\loop.bat"],
                       check=True, capture_output=True)
        spent = time.perf_counter() - t0
        for i, c in enumerate(cases):
            assert Path(d, f"out{i}.txt").read_text().strip() == c["output"].strip()
        return spent


def main():
    with tempfile.TemporaryDirectory() as d:
        folder = copy_app(Path(d) / "app", bank=json.dumps(bank).encode(), toolchain=True)
        gcc = folder / "toolchain" / "bin" / "gcc.exe"
        app = Tavrin.start(folder)
        try:
            judged, bare = [], []
            for r in range(ROUNDS):  # interleaved, so both see the same machine state
                body = {"id": "sum-two", "code": CODE + f"/* round {r} {time.time_ns()} */\n"}
                t0 = time.perf_counter()
                v = app.post("/api/judge", json.dumps(body).encode()).json()
                judged.append(time.perf_counter() - t0)
                assert v.get("status") == "accepted", v
                bare.append(baseline(gcc, CODE + f"/* bare {r} {time.time_ns()} */\n"))
            j, b = statistics.median(judged), statistics.median(bare)
            print(f"Wine, C, 20 cases: judged by Tavrin.exe {j * 1000:.0f} ms, plain batch loop "
                  f"{b * 1000:.0f} ms, ratio {j / b:.3f}x")
        finally:
            app.stop()


if __name__ == "__main__":
    main()
