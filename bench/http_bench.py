#!/usr/bin/env python3
"""Start-up time, throughput and idle memory of the local service, each printed
against a bare loopback server measured in the same run (bench/http_baseline_bench).

Usage: bench/http_bench.py [BUILD_DIR]   (default build/linux; needs wrk)
Goals: start-up to the first answered request < 100 ms with a 1000-question bank,
>= 5,000 requests/s on 2 cores with 32 clients, idle memory < 10 MB.
"""
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUILD = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "linux"
sys.path.insert(0, str(ROOT / "tests" / "integration"))
os.environ.setdefault("TAVRIN_APP", str(BUILD / "app"))
import tavrin as tv  # noqa: E402

BASELINE = BUILD / "http_baseline_bench"
RUNS = 15


def read_limit() -> int:
    """The largest bank the program reads (store_file_limit in src/store/store.h)."""
    text = (ROOT / "src" / "store" / "store.h").read_text("utf-8")
    return int(re.search(r"store_file_limit\s*=\s*(\d+)", text).group(1))


LONG_TEXTS = ("scenario", "task", "input", "output", "constraints", "starter", "reference")
LISTS = ("tests", "samples")  # each question keeps at least one of each


def big_bank(folder: Path, count=1000):
    """count questions made from the bundled ones, their long texts and their lists of cases cut
    just enough that the file stays under the read limit (a bank over it is refused at the
    start). The tests are most of a bundled question's size, so they are cut too."""
    limit = read_limit()
    bank = json.loads((folder / "data" / "bank.json").read_text("utf-8"))
    qs = bank["questions"]

    def build(share):
        out = []
        for i in range(count):
            q = dict(qs[i % len(qs)])
            q["id"] = f"{q['id']}-{i}"
            for key in LONG_TEXTS:
                if isinstance(q.get(key), str):
                    q[key] = q[key][:max(1, int(len(q[key]) * share))]
            for key in LISTS:
                if isinstance(q.get(key), list):
                    q[key] = q[key][:max(1, int(len(q[key]) * share))]
            out.append(q)
        return json.dumps(dict(bank, questions=out), ensure_ascii=False).encode("utf-8")

    data = build(1.0)
    if len(data) > limit:  # the largest share that fits, to 1/4096
        low, high, data = 0.0, 1.0, build(0.0)
        for _ in range(12):
            mid = (low + high) / 2
            candidate = build(mid)
            if len(candidate) <= limit:
                low, data = mid, candidate
            else:
                high = mid
    if len(data) > limit:
        sys.exit(f"cannot make a {count}-question bank under the read limit ({len(data)} > {limit} bytes)")
    (folder / "data" / "bank.json").write_bytes(data)
    return len(data), limit


START_DEADLINE_S = 60


def first_answer_ms(start):
    """start() -> (proc, port_getter); time until GET / is answered. Ends the benchmark with the
    program's own words when it exits before serving, or when nothing answers within a minute."""
    t0 = time.perf_counter()
    proc, port_of = start()
    while True:
        if proc.poll() is not None:
            said = proc.stderr.read().decode("utf-8", "replace").strip() if proc.stderr else ""
            sys.exit(f"{proc.args[0]} ended with exit code {proc.returncode} before serving"
                     + (f": {said}" if said else ""))
        if time.perf_counter() - t0 > START_DEADLINE_S:
            proc.kill()
            sys.exit(f"{proc.args[0]} did not answer within {START_DEADLINE_S} s")
        port = port_of()
        if port:
            try:
                with tv.socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                    s.sendall(b"GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n" % port)
                    if s.recv(16).startswith(b"HTTP/1.1"):
                        return (time.perf_counter() - t0) * 1000, proc, port
            except OSError:
                pass
        time.sleep(0.0005)


def start_program(folder):
    session = folder / "data" / "session.txt"
    session.unlink(missing_ok=True)
    proc = subprocess.Popen([str(folder / "tavrin"), "--no-browser"], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)

    def port():
        try:
            url = session.read_text()
            return int(url.split("/")[2].split(":")[1]) if "#token=" in url else 0
        except (OSError, ValueError, IndexError):
            return 0
    return proc, port


def start_baseline(body_file=None):
    proc = subprocess.Popen([str(BASELINE)] + ([str(body_file)] if body_file else []),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    line = []
    return proc, lambda: line[0] if line else (line.append(int(proc.stdout.readline())) or line[0])


def wrk(url, headers=()):
    args = ["wrk", "-t2", "-c32", "-d5s", "--latency"]
    for h in headers:
        args += ["-H", h]
    out = subprocess.run(args + [url], capture_output=True, text=True, timeout=120).stdout
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    p99 = re.search(r"99%\s+([\d.]+)(us|ms|s)", out)
    p99_ms = float(p99.group(1)) * {"us": 0.001, "ms": 1, "s": 1000}[p99.group(2)]
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    return rps, p99_ms, int(errors.group(1)) if errors else 0


def rss_kb(pid):
    for line in open(f"/proc/{pid}/status"):
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def stop(proc):
    proc.kill()
    proc.wait()


def main():
    if not shutil.which("wrk") or not BASELINE.exists():
        sys.exit("needs wrk and " + str(BASELINE))
    work = Path(tempfile.mkdtemp())
    folder = tv.copy_app(work / "app", web={"index.html": "<!doctype html>" + "<p>练习</p>" * 400})
    size, limit = big_bank(folder)
    big_file = folder / "data" / "bank.json"
    print(f"start-up bank: 1000 questions, {size} bytes (read limit {limit} bytes)")

    # start-up to first answered request
    ours, base = [], []
    for _ in range(RUNS):
        ms, proc, port = first_answer_ms(lambda: start_program(folder))
        ours.append(ms)
        stop(proc)
        ms, proc, _ = first_answer_ms(lambda: start_baseline())
        base.append(ms)
        stop(proc)
    o, b = statistics.median(ours), statistics.median(base)
    print(f"start-up to first answer: {o:.1f} ms median (baseline {b:.1f} ms, ratio {o / b:.2f}; goal < 100 ms)")

    # throughput and p99, with the same large bank
    folder = tv.copy_app(work / "served", bank=big_file.read_bytes(),
                         web={"index.html": "<!doctype html>" + "<p>练习</p>" * 400})
    bank_file = folder / "data" / "bank.json"
    ms, proc, port = first_answer_ms(lambda: start_program(folder))
    token = (folder / "data" / "session.txt").read_text().split("#token=")[1]
    time.sleep(1.0)
    idle = rss_kb(proc.pid)
    bank_rps = wrk(f"http://127.0.0.1:{port}/api/bank", [f"Authorization: Bearer {token}"])
    static_rps = wrk(f"http://127.0.0.1:{port}/index.html")
    stop(proc)
    (work / "index.html").write_bytes((folder / "web" / "index.html").read_bytes())
    results = {}
    for name, body in (("bank", bank_file), ("static", work / "index.html")):
        bproc, bport = start_baseline(body)
        port = bport()
        time.sleep(0.3)
        if name == "bank":
            base_idle = rss_kb(bproc.pid)
        results[name] = wrk(f"http://127.0.0.1:{port}/")
        stop(bproc)
    print(f"served bank: {bank_file.stat().st_size} bytes; static file: {(work / 'index.html').stat().st_size} bytes")
    for name, mine in (("GET /api/bank", bank_rps), ("GET /index.html", static_rps)):
        base = results["bank" if "bank" in name else "static"]
        print(f"{name}: {mine[0]:.0f} req/s, p99 {mine[1]:.2f} ms, non-2xx {mine[2]} "
              f"(baseline {base[0]:.0f} req/s, p99 {base[1]:.2f} ms; ratio {mine[0] / base[0]:.2f}; goal >= 5000 req/s)")
    print(f"idle RSS: {idle / 1024:.1f} MB (baseline {base_idle / 1024:.1f} MB, ratio {idle / max(base_idle, 1):.2f}; goal < 10 MB)")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
