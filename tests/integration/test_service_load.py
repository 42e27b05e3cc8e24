"""Idle and slow clients do not keep others out, and cannot hold the end forever."""
import os
import resource
import socket
import threading
import time

import pytest

import tavrin as tv

IDLE = 500
SLOW = 100


def raise_fd_limit(need):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < need:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(need, hard), hard))


def test_idle_and_slow_clients_do_not_block_a_new_one(start_tavrin):
    raise_fd_limit(4096)  # the program inherits it
    app = start_tavrin(web={"index.html": "ok"})
    idle = [app.connect() for _ in range(IDLE)]
    slow = [app.connect() for _ in range(SLOW)]
    trickle_stop = threading.Event()
    request = f"GET / HTTP/1.1\r\nHost: {app.host}\r\nX-Slow: ".encode()

    def trickle():
        i = 0
        while not trickle_stop.is_set():
            for s in slow:
                try:
                    s.send(request[i:i + 1] if i < len(request) else b"a")
                except OSError:
                    pass
            i += 1
            time.sleep(0.2)

    t = threading.Thread(target=trickle)
    t.start()
    try:
        time.sleep(1.0)
        started = time.monotonic()
        r = app.get("/")
        served_in = time.monotonic() - started
        assert (r.status, r.text) == (200, "ok")
        # A functional bound, far above the time a served request takes.
        assert served_in < (10.0 if tv.WINDOWS else 5.0), served_in
        assert app.get("/api/status").status == 200
        # The end waits for open requests, but a client that keeps trickling is
        # cut off by the bound on the whole request, so the program still ends.
        for s in idle:
            s.close()
        assert app.post("/api/shutdown").json() == {"ok": True}
        assert app.wait(timeout=90) == 0
    finally:
        trickle_stop.set()
        t.join()
        for s in slow:
            s.close()
    assert "窗口关闭，正常退出；本次运行" in app.log()


@pytest.mark.skipif(tv.WINDOWS, reason="descriptor limits and /proc CPU times are Linux facilities")
def test_failed_accepts_back_off_and_recover(start_tavrin):
    # Started with few descriptors, the program cannot accept everyone: the loop
    # must pause between failed accepts (no spinning) and serve again afterwards.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (32, hard))
    try:
        app = start_tavrin(web={"index.html": "ok"})
    finally:
        resource.setrlimit(resource.RLIMIT_NOFILE, (soft, hard))
    held = []

    def connect_many():
        for _ in range(50):
            try:
                held.append(app.connect(timeout=60))
            except OSError:
                return

    # Connecting stalls once the program is out of descriptors, so measure meanwhile.
    t = threading.Thread(target=connect_many)
    t.start()
    try:
        time.sleep(1.0)
        before = cpu_seconds(app.proc.pid)
        time.sleep(2.0)
        used = cpu_seconds(app.proc.pid) - before
        assert used < 0.5, f"accept loop spent {used:.2f} s of CPU in 2 s"
    finally:
        t.join()
        for s in held:
            s.close()
    assert app.get("/").text == "ok"


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
