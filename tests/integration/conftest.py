"""Fixtures for the integration suites; see tavrin.py for how to use them."""
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import tavrin as tv  # noqa: E402


@pytest.fixture
def app_folder(tmp_path):
    """Factory: app_folder(bank=None, web=None, name="app") -> a fresh copy of the program folder."""
    def make(bank=None, web=None, name="app"):
        return tv.copy_app(tmp_path / name, bank=bank, web=web)
    return make


@pytest.fixture
def start_tavrin(app_folder):
    """Factory: start_tavrin(bank=None, web=None, args=(), folder=None, env=None) -> a running tv.Tavrin.
    Every program started here is ended in order at teardown, and must have ended."""
    started = []

    def start(bank=None, web=None, args=(), folder=None, name="app", env=None):
        folder = folder or app_folder(bank=bank, web=web, name=name)
        app = tv.Tavrin.start(folder, *args, env=env)
        started.append(app)
        return app

    yield start
    problems = []
    for app in started:
        if app.running():
            try:
                app.stop()
            except AssertionError as e:
                problems.append(str(e))
        if app.running():
            problems.append("program still running after teardown")
    assert not problems, problems


@pytest.fixture
def tavrin(start_tavrin):
    """A running program in a fresh copy of the program folder."""
    return start_tavrin()
