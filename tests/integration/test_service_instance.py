"""One serving instance per program folder on Linux, whatever the environment it is started
from; nothing of the start left in temporary or runtime folders."""
import os
import stat

import pytest

import tavrin as tv

pytestmark = pytest.mark.skipif(tv.WINDOWS, reason="the Windows program keys its mutex on the folder already")

SECOND = "已有程序在运行，本次只打开已有窗口"


def environment(tmp_path, name):
    """A start environment of its own: runtime folder (0700) and temporary folder."""
    runtime = tmp_path / name / "runtime"
    runtime.mkdir(parents=True)
    runtime.chmod(0o700)
    temp = tmp_path / name / "tmp"
    temp.mkdir()
    return {"XDG_RUNTIME_DIR": str(runtime), "TMPDIR": str(temp)}


def fake_browser(tmp_path):
    """A 'chromium' first on PATH that reads the page it is given into a file, as a browser
    reads it, and notes each launch as one line in the file's ".launches" (then "done" when it
    is through); returns (env additions, path of what it read)."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    seen = tmp_path / "browser-read.html"
    script = bin_dir / "chromium"
    script.write_text('#!/bin/sh\nPATH=/usr/bin:/bin\necho launch >> "$SEEN.launches"\n'
                      'for a; do case "$a" in --app=file://*)\n'
                      '  cat "${a#--app=file://}" > "$SEEN.part" && mv "$SEEN.part" "$SEEN";; esac; done\n'
                      'echo done >> "$SEEN.launches"\n')
    script.chmod(0o755)
    return {"PATH": f"{bin_dir}:{os.environ.get('PATH', '/usr/bin:/bin')}", "SEEN": str(seen)}, seen


def launches(seen):
    """What the stand-in browser noted, once every launch of it has come to its end."""
    notes = seen.with_name(seen.name + ".launches")
    lines = lambda: notes.read_text().split() if notes.exists() else []
    tv.wait_for(lambda: lines() and lines().count("launch") == lines().count("done"),
                what="every browser launch to finish")
    return lines().count("launch")


def read_page(seen):
    return tv.wait_for(lambda: seen.exists() and seen.read_text("utf-8"), what="the browser reading the page")


def test_one_folder_one_instance_whatever_the_environment(start_tavrin, tmp_path):
    first = start_tavrin(env=environment(tmp_path, "desktop"))
    url = first.data("session.txt").read_bytes()
    # From cron or sudo -u: another runtime folder, or none at all.
    others = [environment(tmp_path, "cron"), {"XDG_RUNTIME_DIR": None, "TMPDIR": None}]
    for env in others:
        done = tv.run_duty(first.folder, "--no-browser", env=env)
        assert done.returncode == 0
    assert first.data("session.txt").read_bytes() == url
    assert first.log().count(SECOND) == 2
    assert first.running() and first.get("/api/status").status == 200
    # --stop from yet another environment finds and ends it, in order.
    assert tv.run_duty(first.folder, "--stop", env={"XDG_RUNTIME_DIR": None}).returncode == 0
    assert first.wait() == 0
    assert "收到 --stop：已通知正在运行的程序退出" in first.log()
    assert not first.data("session.txt").exists()
    lock = first.data("instance.lock")
    assert lock.is_file() and not lock.is_symlink()


def test_squatted_temporary_folder_changes_nothing(start_tavrin, tmp_path):
    # Another local user made "tavrin-<uid>" in the temporary folder first.
    temp = tmp_path / "tmp"
    temp.mkdir()
    (tmp_path / "theirs").mkdir()
    squat = temp / f"tavrin-{os.getuid()}"
    squat.symlink_to(tmp_path / "theirs")
    browser, seen = fake_browser(tmp_path)
    env = {"XDG_RUNTIME_DIR": None, "TMPDIR": str(temp), **browser}
    first = start_tavrin(args=("--browser",), env=env)  # service only, and the browser opens
    page = read_page(seen)
    assert first.token in page
    assert tv.run_duty(first.folder, "--no-browser", env=env).returncode == 0
    assert first.log().count(SECOND) == 1
    assert tv.run_duty(first.folder, "--stop", env=env).returncode == 0
    assert first.wait() == 0
    assert "收到 --stop：已通知正在运行的程序退出" in first.log()
    assert list(temp.iterdir()) == [squat]  # its own page folder went with the program
    assert list((tmp_path / "theirs").iterdir()) == []


def test_second_browser_start_leaves_no_redirect_page(start_tavrin, tmp_path):
    first = start_tavrin()
    env = environment(tmp_path, "second")
    runtime = tmp_path / "second" / "runtime"
    browser, seen = fake_browser(tmp_path)
    done = tv.run_duty(first.folder, "--browser", env={**env, **browser})
    assert done.returncode == 0
    page = read_page(seen)
    assert first.token in page  # the browser got the running instance's start URL
    assert launches(seen) == 1  # once: a second launch would remove the first one's page
    assert list(runtime.iterdir()) == []  # and the page with the token is gone
    assert first.log().count(SECOND) == 1


def test_second_browser_start_without_any_browser(start_tavrin, tmp_path):
    first = start_tavrin()
    env = environment(tmp_path, "bare")
    empty = tmp_path / "no-programs"
    empty.mkdir()
    done = tv.run_duty(first.folder, "--browser", env={**env, "PATH": str(empty)})
    assert done.returncode == 0
    assert list((tmp_path / "bare" / "runtime").iterdir()) == []
    assert stat.S_IMODE((tmp_path / "bare" / "runtime").stat().st_mode) == 0o700
