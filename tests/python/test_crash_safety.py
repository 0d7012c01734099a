"""A save killed at any moment leaves the old vault or the new one, never a mix,
and the next save leaves no temporary file behind.

A separate process saves in a loop and is killed with SIGKILL at random
moments. Save number i stores "gen-i" in entry E{i % 5}, so every complete file
is exactly the state after some save n: each entry holds the newest generation
up to n that falls to it. Any other combination would be a torn save.
"""

from __future__ import annotations

import os
import random
import signal
import subprocess
import sys
from pathlib import Path

from conftest import KEY_ENV, read_entries
from quillbox import Vault

ENTRIES = 5
KILLS = 100

SAVER = f"""
import sys
from quillbox import Vault

path, generation = sys.argv[1], int(sys.argv[2])
with Vault("{KEY_ENV}", path) as vault:
    print("ready", flush=True)
    while True:
        vault.set(f"E{{generation % {ENTRIES}}}", f"gen-{{generation}}")
        generation += 1
"""


def state_after(save: int) -> dict:
    """The entries after saves 0..save (entries never saved hold "initial")."""
    state = {f"E{k}": "initial" for k in range(ENTRIES)}
    for generation in range(max(0, save - ENTRIES + 1), save + 1):
        state[f"E{generation % ENTRIES}"] = f"gen-{generation}"
    return state


def newest_generation(path: Path) -> int:
    """Checks that the file is one whole state and returns its last save."""
    entries = {name: value.decode() for name, value in read_entries(path)}
    generations = [int(v[4:]) for v in entries.values() if v.startswith("gen-")]
    newest = max(generations, default=-1)
    assert entries == state_after(newest), f"torn save: {entries}"
    return newest


def test_killed_saves_never_tear_the_vault(make_vault, tmp_path: Path):
    path = make_vault([(f"E{k}", b"initial") for k in range(ENTRIES)])
    rng = random.Random(20261210)
    generation = 0
    for _ in range(KILLS):
        saver = subprocess.Popen(
            [sys.executable, "-c", SAVER, str(path), str(generation)],
            stdout=subprocess.PIPE,
            env=os.environ.copy(),
        )
        assert saver.stdout.readline() == b"ready\n"
        try:
            saver.wait(timeout=rng.uniform(0.0, 0.05))
            raise AssertionError(f"the saver stopped by itself with status {saver.returncode}")
        except subprocess.TimeoutExpired:
            saver.send_signal(signal.SIGKILL)
            saver.wait()
        saver.stdout.close()

        generation = newest_generation(path) + 1
        # The vault opens, and the next save goes through and removes what the
        # killed saver left behind.
        with Vault(KEY_ENV, str(path)) as vault:
            vault.set(f"E{generation % ENTRIES}", f"gen-{generation}")
        assert newest_generation(path) == generation
        assert list(tmp_path.glob("vault.bin.tmp.*")) == []
        generation += 1

    assert generation > KILLS  # every round saved at least once
