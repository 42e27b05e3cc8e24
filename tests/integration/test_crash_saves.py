"""Killing the program at random moments during saves never leaves a half-written file."""
import json
import random
import threading
import time

import tavrin as tv

# Wine needs far longer per start; fewer rounds keep the suite within a couple of minutes. A fixed
# count, not a time budget: a busy machine makes the test slower, never weaker.
ROUNDS = 30 if tv.WINDOWS else 200


def test_kill_during_saves_leaves_old_or_new_content(app_folder):
    folder = app_folder()
    bank_path, state_path = folder / "data" / "bank.json", folder / "data" / "state.json"
    base = json.loads(bank_path.read_text("utf-8"))
    seen_banks = {bank_path.read_text("utf-8")}
    seen_states = set()
    rng = random.Random(1234)
    rounds = 0
    counter = 0
    while rounds < ROUNDS:
        rounds += 1
        app = tv.Tavrin.start(folder)
        stop = threading.Event()
        # The kill must fall among saves, however slow the machine: it waits until one save of
        # this round has been acknowledged and the next one is under way.
        acknowledged, next_begun = threading.Event(), threading.Event()

        def saves():
            nonlocal counter
            while not stop.is_set():
                counter += 1
                if acknowledged.is_set():
                    next_begun.set()
                bank = dict(base, title=f"第 {counter} 版", pad="题" * rng.randrange(1, 20000))
                text = json.dumps(bank, ensure_ascii=False)
                state = json.dumps({"round": counter, "pad": "x" * rng.randrange(1, 60000)})
                seen_banks.add(text)
                seen_states.add(state)
                try:
                    app.post("/api/bank", text, timeout=60)
                    app.post("/api/state", state, timeout=60)
                except (OSError, ConnectionError):
                    next_begun.set()  # killed, or failed before the kill: the check below tells
                    return
                acknowledged.set()

        worker = threading.Thread(target=saves)
        worker.start()
        next_begun.wait(120)
        assert acknowledged.is_set(), f"round {rounds}: no save was acknowledged by the program"
        time.sleep(rng.uniform(0.0, 0.12))
        app.kill()
        stop.set()
        worker.join()

        bank_text = bank_path.read_text("utf-8")
        json.loads(bank_text)
        assert bank_text in seen_banks, f"round {rounds}: bank.json is neither old nor new"
        if state_path.exists():
            state_text = state_path.read_text("utf-8")
            json.loads(state_text)
            assert state_text in seen_states, f"round {rounds}: state.json is neither old nor new"
    assert counter > rounds
    # The program still starts on what the kills left and ends in order.
    app = tv.Tavrin.start(folder)
    assert app.get("/api/bank").text == bank_path.read_text("utf-8")
    assert app.stop() == 0
