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
  progress GET / PUT + 64 idle   the same while 64 connections sit open doing nothing (kept
                          open again whenever the service ends them); goal: req/s and p99
                          within 20 % of the runs without them
  sign-in burst 100 / 500 that many correct sign-ins sent at once, each on its own connection:
                          median and slowest answer against the client's 10 s limit
The service runs as behind the school's reverse proxy (--trust-proxy: every connection comes
from the proxy's address, so the per-address connection cap does not apply).
Goals: >= 2,000 progress requests/s on SQLite on two cores, p99 under 50 ms.
"""
import argparse
import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))

parser = argparse.ArgumentParser()
parser.add_argument("build", nargs="?", default=str(ROOT / "build" / "linux"))
parser.add_argument("--seconds", type=float, default=5.0)
parser.add_argument("--clients", type=int, default=32)
parser.add_argument("--no-postgresql", action="store_true")
parser.add_argument("--bursts", default="100,500", help="simultaneous sign-ins to measure, comma-separated")
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

    # a few at a time: each costs a full Argon2id hash, and the set-up is not what is measured
    todo = list(range(count))
    lock = threading.Lock()

    def reg():
        while True:
            with lock:
                if not todo:
                    return
                i = todo.pop()
            tokens[i] = svc.register(names[i], PASSWORD)["token"]

    threads = [threading.Thread(target=reg) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return names, tokens


class IdleConnections:
    """count connections that send nothing, opened again as soon as the service ends one."""

    def __init__(self, svc, count):
        self.svc, self.count, self.stop = svc, count, threading.Event()
        self.threads = [threading.Thread(target=self.hold, daemon=True) for _ in range(count)]

    def hold(self):
        while not self.stop.is_set():
            try:
                with socket.create_connection((self.svc.host, self.svc.port), timeout=1) as s:
                    while not self.stop.is_set():
                        try:
                            if s.recv(1) == b"":
                                break
                        except socket.timeout:
                            continue
            except OSError:
                time.sleep(0.05)

    def __enter__(self):
        for t in self.threads:
            t.start()
        time.sleep(0.5)  # let them connect
        return self

    def __exit__(self, *exc):
        self.stop.set()
        for t in self.threads:
            t.join()


def sign_in_burst(svc, names):
    """Every name signs in at once, each on a connection of its own opened beforehand."""
    conns = [svc.connection(timeout=120) for _ in names]
    for c in conns:
        c.connect()
    barrier = threading.Barrier(len(names))
    seconds, statuses = [0.0] * len(names), [0] * len(names)

    def go(i):
        barrier.wait()
        started = time.monotonic()
        try:
            # learners at home, each from an address of their own (behind the proxy)
            statuses[i] = svc.request("POST", "/v1/login", {"username": names[i], "password": PASSWORD},
                                      conn=conns[i],
                                      headers={"X-Forwarded-For": f"10.{i >> 16 & 255}.{i >> 8 & 255}.{i & 255}"}).status
        except OSError:
            statuses[i] = -1
        seconds[i] = time.monotonic() - started
        conns[i].close()

    threads = [threading.Thread(target=go, args=(i,)) for i in range(len(names))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return {"median_s": statistics.median(seconds), "slowest_s": max(seconds),
            "failures": sum(s != 200 for s in statuses),
            "late": sum(t > 10 for t in seconds)}


def service_runs(label, database, folder, bursts):
    # the service's own defaults (Argon2id included), only the log goes nowhere useful
    svc = CloudService.start(folder, database=database, fast_hash=False,
                             args=("--trust-proxy", "--max-registrations-per-address", "100000"))
    try:
        names, tokens = accounts(svc, max(opts.clients, max(bursts)))
        runs = {
            f"{label} progress GET": load(svc.url, "get", tokens[:opts.clients]),
            f"{label} progress PUT": load(svc.url, "put", tokens[:opts.clients]),
        }
        with IdleConnections(svc, 64):
            runs[f"{label} progress GET + 64 idle"] = load(svc.url, "get", tokens[:opts.clients])
            runs[f"{label} progress PUT + 64 idle"] = load(svc.url, "put", tokens[:opts.clients])
        runs[f"{label} login"] = load(svc.url, "login", names[:opts.clients])
        for n in bursts:
            runs[f"{label} sign-in burst {n}"] = sign_in_burst(svc, names[:n])
        return runs
    finally:
        svc.stop()


def main():
    results = {"baseline GET (bare cpp-httplib)": baseline()}
    with tempfile.TemporaryDirectory() as tmp:
        bursts = [int(n) for n in opts.bursts.split(",") if n]
        results.update(service_runs("SQLite", None, Path(tmp) / "sqlite", bursts))
        if not opts.no_postgresql:
            pg = Postgres.start()
            try:
                results.update(service_runs("PostgreSQL", pg.new_database(), Path(tmp) / "pg", bursts))
            finally:
                pg.stop()
    base = results["baseline GET (bare cpp-httplib)"]["rps"]
    print(f"{opts.clients} clients, {opts.seconds:g} s each, {os.cpu_count()} processors; "
          "Argon2id defaults: 2 passes, 19 MiB, one hash per processor at a time")
    print(f"{'run':34} {'req/s':>9} {'vs base':>8} {'p50 ms':>8} {'p99 ms':>8} {'failed':>7}")
    for name, r in results.items():
        if "rps" in r:
            print(f"{name:34} {r['rps']:9.0f} {r['rps'] / base:8.3f} {r['p50_ms']:8.2f} {r['p99_ms']:8.2f} "
                  f"{r['failures']:7d}")
    for name, r in results.items():
        if "median_s" in r:
            print(f"{name}: median {r['median_s']:.2f} s, slowest {r['slowest_s']:.2f} s "
                  f"({r['slowest_s'] / 10:.2f} of the client's 10 s), {r['late']} over 10 s, "
                  f"{r['failures']} failed")
    for label in ("SQLite", "PostgreSQL"):
        get, put = results.get(f"{label} progress GET"), results.get(f"{label} progress PUT")
        if get and put:
            print(f"{label}: progress GET {get['rps']:.0f}/s (p99 {get['p99_ms']:.1f} ms), "
                  f"PUT {put['rps']:.0f}/s (p99 {put['p99_ms']:.1f} ms); goal >= 2000/s, p99 < 50 ms")
        for kind in ("GET", "PUT"):
            plain, idle = results.get(f"{label} progress {kind}"), results.get(f"{label} progress {kind} + 64 idle")
            if plain and idle:
                print(f"{label} {kind} with 64 idle connections: req/s x{idle['rps'] / plain['rps']:.3f}, "
                      f"p99 x{idle['p99_ms'] / max(plain['p99_ms'], 1e-6):.3f} of the run without "
                      "(goal: within 20 %)")


if __name__ == "__main__":
    main()
