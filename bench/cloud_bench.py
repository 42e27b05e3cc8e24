#!/usr/bin/env python3
"""Throughput and latency of the account service tavrin-cloud, printed against a bare
server of the same HTTP library (build/linux/cloud_baseline) measured in the same run.

Usage: bench/cloud_bench.py [BUILD_DIR] [--seconds N] [--clients N] [--no-postgresql]
       (default build/linux; after scripts/build.sh linux)

Runs, with 32 clients on keep-alive connections, each for --seconds:
  baseline GET            the bare server answering a fixed body
  progress GET / PUT      on SQLite (a file in a temp folder) and on PostgreSQL (a server
                          started from Debian's packages in a temp folder)
  login                   Argon2id with the service's default parameters (slow on purpose)
Goals: >= 2,000 progress requests/s on SQLite on two cores, p99 under 50 ms.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default=str(ROOT / "build" / "linux"))
parser.add_argument("--seconds", type=float, default=5.0)
parser.add_argument("--clients", type=int, default=32)
parser.add_argument("--no-postgresql", action="store_true")
opts = parser.parse_args()
BUILD = Path(opts.build).resolve()
os.environ["TAVRIN_CLOUD"] = str(BUILD / "tavrin-cloud")
from cloudsvc import CloudService, Postgres  # noqa: E402

LOAD = BUILD / "cloud_load"
PASSWORD = "benchmark-pw"


def load(url, mode, lines=None):
    with tempfile.NamedTemporaryFile("w", suffix=".txt") as f:
        f.write("\n".join(lines or []) + "\n")
        f.flush()
        args = [str(LOAD), url, mode, str(opts.clients), str(opts.seconds)] + ([f.name] if lines else [])
        out = subprocess.run(args, check=True, capture_output=True, text=True, timeout=600).stdout
    return json.loads(out)


def baseline():
    proc = subprocess.Popen([str(BUILD / "cloud_baseline")], stdout=subprocess.PIPE, text=True)
    try:
        port = int(proc.stdout.readline())
        return load(f"http://127.0.0.1:{port}", "get")
    finally:
        proc.kill()
        proc.wait()


def accounts(svc, count):
    names = [f"bench-{i}" for i in range(count)]
    tokens = [None] * count

    def reg(i):
        tokens[i] = svc.register(names[i], PASSWORD)["token"]

    threads = [threading.Thread(target=reg, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return names, tokens


def service_runs(label, database, folder):
    # the service's own defaults (Argon2id included), only the log goes nowhere useful
    svc = CloudService.start(folder, database=database, fast_hash=False)
    try:
        names, tokens = accounts(svc, opts.clients)
        return {
            f"{label} progress GET": load(svc.url, "get", tokens),
            f"{label} progress PUT": load(svc.url, "put", tokens),
            f"{label} login": load(svc.url, "login", names),
        }
    finally:
        svc.stop()


def main():
    results = {"baseline GET (bare cpp-httplib)": baseline()}
    with tempfile.TemporaryDirectory() as tmp:
        results.update(service_runs("SQLite", None, Path(tmp) / "sqlite"))
        if not opts.no_postgresql:
            pg = Postgres.start()
            try:
                results.update(service_runs("PostgreSQL", pg.new_database(), Path(tmp) / "pg"))
            finally:
                pg.stop()
    base = results["baseline GET (bare cpp-httplib)"]["rps"]
    print(f"{opts.clients} clients, {opts.seconds:g} s each, {os.cpu_count()} processors; "
          "Argon2id defaults: 2 passes, 19 MiB, one hash per processor at a time")
    print(f"{'run':34} {'req/s':>9} {'vs base':>8} {'p50 ms':>8} {'p99 ms':>8} {'failed':>7}")
    for name, r in results.items():
        print(f"{name:34} {r['rps']:9.0f} {r['rps'] / base:8.3f} {r['p50_ms']:8.2f} {r['p99_ms']:8.2f} "
              f"{r['failures']:7d}")
    for label in ("SQLite", "PostgreSQL"):
        get, put = results.get(f"{label} progress GET"), results.get(f"{label} progress PUT")
        if get and put:
            print(f"{label}: progress GET {get['rps']:.0f}/s (p99 {get['p99_ms']:.1f} ms), "
                  f"PUT {put['rps']:.0f}/s (p99 {put['p99_ms']:.1f} ms); goal >= 2000/s, p99 < 50 ms")


if __name__ == "__main__":
    main()
