#!/usr/bin/env python3
"""What a failing submission's diagnostic run costs: the same program judged once as written
(it crashes on case 1, which sends it to the diagnostic build and run) and once fixed (it
passes: no diagnostic run), each round's code new to the compile cache. Prints the medians,
the extra time and the ratio; asserts nothing.

Usage: bench/judge_evidence_bench.py [program folder]   (default build/linux/app)
"""
import json
import os
import statistics
import sys
import tempfile
import time
import uuid
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))
if len(sys.argv) > 1:
    os.environ["TAVRIN_APP"] = sys.argv[1]
from tavrin import Tavrin, copy_app  # noqa: E402

ROUNDS = 8
PROGRAMS = {
    "C": (None, '#include <stdio.h>\n/* %s */\nint main(void){int a,b,t[2]={0,1};'
          'if(scanf("%%d %%d",&a,&b)!=2)return 1;printf("%%d\\n",(a+b)/t[%s]);return 0;}\n',
          ("0", "1")),
    "C++": ("cpp", '#include <iostream>\n// %s\nint main(){int a,b,t[2]={0,1};std::cin>>a>>b;'
            'std::cout<<(a+b)/t[%s]<<std::endl;}\n', ("0", "1")),
}


def judge(app, code, lang):
    body = {"id": "sum-two", "code": code}
    if lang:
        body["lang"] = lang
    t0 = time.perf_counter()
    r = app.post("/api/judge", json.dumps(body).encode())
    elapsed = time.perf_counter() - t0
    v = r.json()
    return elapsed, v


def main():
    bank = (ROOT / "tests" / "fixtures" / "bank" / "small.json").read_bytes()
    with tempfile.TemporaryDirectory() as d:
        app = Tavrin.start(copy_app(Path(d) / "app", bank=bank))
        try:
            for label, (lang, template, (bad, good)) in PROGRAMS.items():
                failing, passing = [], []
                for _ in range(ROUNDS):
                    t, v = judge(app, template % (uuid.uuid4().hex, bad), lang)
                    assert v["status"] == "failed", v
                    failing.append(t)
                    t, v = judge(app, template % (uuid.uuid4().hex, good), lang)
                    assert v["status"] == "accepted", v
                    passing.append(t)
                f, p = statistics.median(failing), statistics.median(passing)
                print(f"{label}: failing (with diagnostic run) {f * 1000:.0f} ms, passing {p * 1000:.0f} ms, "
                      f"extra {1000 * (f - p):.0f} ms, ratio {f / p:.2f}")
        finally:
            app.stop()


if __name__ == "__main__":
    main()
