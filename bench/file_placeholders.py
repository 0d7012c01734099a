"""Vault.run_with(["true", "{{file:KEY}}"]) against Vault.run_with(["true", "{{KEY}}"]).

Both run through the same vault, timed side by side in one process (interleaved,
median of many runs, after one warm-up run each); the medians, their difference (what
a file in memory costs a run: sweeping the base, making, locking and filling the
folder and its file, then wiping and removing them) and the ratio file / value are
printed for two memory bases, each a folder of the benchmark's own given as
$XDG_RUNTIME_DIR:

    empty     nothing else in it
    crowded   200 other entries beside the runs' folders, as a busy /dev/shm may
              hold, which every sweep lists

Every run must exit 0 and leave its base as it found it. The goal: a ratio of at
most 1.5 with the empty base; the exit status is non-zero when it is missed.

`--cpu N` keeps this process, and so every child it starts, on that one CPU.

    .venv/bin/python bench/file_placeholders.py [--runs N] [--cpu N]
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

from bench_vault import PASSPHRASE, goal_line, write_vault
from quillbox import Vault

KEY_ENV = "QUILLBOX_BENCH_KEY"
# An ed25519 private key's length in the OpenSSH format.
VALUE = b"k" * 411
NEIGHBOURS = 200
GOAL = 1.5


def timed_run(vault: Vault, word: str) -> float:
    started = time.perf_counter()
    result = vault.run_with(["true", word])
    elapsed = time.perf_counter() - started
    assert result.exit_code == 0, f"`true {word}` exited {result.exit_code}"
    return elapsed


def measure(vault: Vault, runs: int) -> tuple[float, float]:
    """The median times of a run with a file and of one with a value, taking turns."""
    with_file, with_value = [], []
    timed_run(vault, "{{file:KEY}}")
    timed_run(vault, "{{KEY}}")
    for _ in range(runs):
        with_file.append(timed_run(vault, "{{file:KEY}}"))
        with_value.append(timed_run(vault, "{{KEY}}"))
    return statistics.median(with_file), statistics.median(with_value)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=300)
    parser.add_argument("--cpu", type=int, help="run on this one CPU only")
    args = parser.parse_args()
    if args.cpu is not None:
        os.sched_setaffinity(0, {args.cpu})
    os.environ[KEY_ENV] = PASSPHRASE
    ratios = {}
    with tempfile.TemporaryDirectory(prefix="bench-files-") as directory:
        vault_path = write_vault(Path(directory) / "vault.bin", [("KEY", VALUE)])
        print(f"`true`, median of {args.runs} runs each, taking turns, same vault")
        print(f"{'base':<8} {'file':>11} {'value':>11} {'cost':>9} {'ratio':>7}")
        with Vault(KEY_ENV, str(vault_path)) as vault:
            for name, neighbours in (("empty", 0), ("crowded", NEIGHBOURS)):
                with tempfile.TemporaryDirectory(prefix="bench-base-", dir="/dev/shm") as base:
                    for i in range(neighbours):
                        Path(base, f"neighbour-{i:03}").write_bytes(b"")
                    os.environ["XDG_RUNTIME_DIR"] = base
                    with_file, with_value = measure(vault, args.runs)
                    assert len(os.listdir(base)) == neighbours, f"runs left files in {name}"
                ratios[name] = with_file / with_value
                print(
                    f"{name:<8} {with_file * 1e3:>8.3f} ms {with_value * 1e3:>8.3f} ms "
                    f"{(with_file - with_value) * 1e6:>6.0f} µs {ratios[name]:>7.2f}"
                )
    print(goal_line(ratios["empty"], GOAL, "empty base"))
    sys.exit(0 if ratios["empty"] <= GOAL else 1)


if __name__ == "__main__":
    main()
