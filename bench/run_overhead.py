"""Vault.run("printf ok") against subprocess.run(["printf", "ok"], capture_output=True):
the first run after a change of the vault, and the runs after it.

For vaults of 0, 100, 1,000 and 10,000 entries, each a random token, in one
process:

    first run   the vault changes (its last entry takes a new value; the empty
                vault gains an entry and loses it again), and its next run is
                timed: that run builds the redactor of the new state
    steady      the later runs, which share that redactor, timed taking turns
                with subprocess.run

Every run must exit 0 and print `ok` alone, or the benchmark stops there. The
medians are printed, with the ratios steady / subprocess and first run / steady.
The goals: steady at most 1.2 times subprocess.run with 100 entries and 1.5 with
10,000; the first run after a change with 10,000 entries at most 40 ms. The exit
status is non-zero when a goal is missed.

    .venv/bin/python bench/run_overhead.py [--runs N] [--first-runs N]
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from bench_vault import (
    PASSPHRASE,
    goal_line,
    random_token,
    time_goal_line,
    token_entries,
    write_vault,
)
from quillbox import Vault

KEY_ENV = "QUILLBOX_BENCH_KEY"
COMMAND = ["printf", "ok"]
PRINTED = "ok"
ENTRY_COUNTS = (0, 100, 1_000, 10_000)
STEADY_GOALS = {100: 1.2, 10_000: 1.5}
FIRST_RUN_GOALS_SECONDS = {10_000: 0.040}


def timed_run(vault: Vault) -> float:
    started = time.perf_counter()
    result = vault.run(" ".join(COMMAND))
    elapsed = time.perf_counter() - started
    shown = (result.exit_code, result.stdout, result.stderr, result.stopped_by)
    if shown != (0, PRINTED, "", None):
        sys.exit(f"Vault.run: exit status, output, error and stop {shown}, not (0, {PRINTED!r})")
    return elapsed


def timed_reference() -> float:
    started = time.perf_counter()
    done = subprocess.run(COMMAND, capture_output=True)
    elapsed = time.perf_counter() - started
    if (done.returncode, done.stdout, done.stderr) != (0, PRINTED.encode(), b""):
        sys.exit(f"subprocess.run: {done}")
    return elapsed


def change(vault: Vault, entry_count: int) -> None:
    """A new state of the vault, of as many entries as before."""
    name = f"KEY_{max(entry_count - 1, 0)}"
    vault.set(name, random_token())
    if entry_count == 0:
        vault.delete(name)


def measure(entry_count: int, runs: int, first_runs: int, directory: Path) -> dict[str, float]:
    """The medians of the first run after a change, of the steady runs and of
    subprocess.run taking turns with them."""
    path = write_vault(directory / f"vault-{entry_count}.bin", token_entries(entry_count))
    first, steady, reference = [], [], []
    with Vault(KEY_ENV, str(path)) as vault:
        for _ in range(first_runs):
            change(vault, entry_count)
            first.append(timed_run(vault))
        for _ in range(runs):
            steady.append(timed_run(vault))
            reference.append(timed_reference())
    return {
        "first": statistics.median(first),
        "steady": statistics.median(steady),
        "reference": statistics.median(reference),
    }


def print_row(entry_count: int, times: dict[str, float]) -> None:
    first, steady, reference = times["first"], times["steady"], times["reference"]
    print(
        f"{entry_count:>8,} {first * 1e3:>9.2f} ms {steady * 1e3:>8.2f} ms "
        f"{reference * 1e3:>9.2f} ms {steady / reference:>11.2f} {first / steady:>13.1f}"
    )


def goal_lines(medians: dict[int, dict[str, float]]) -> list[str]:
    lines = []
    for count, goal in STEADY_GOALS.items():
        ratio = medians[count]["steady"] / medians[count]["reference"]
        lines.append(goal_line(ratio, goal, f"steady, {count:,} entries"))
    for count, goal in FIRST_RUN_GOALS_SECONDS.items():
        what = f"first run after a change, {count:,} entries"
        lines.append(time_goal_line(medians[count]["first"], goal, what))
    return lines


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--first-runs", type=int, default=5)
    args = parser.parse_args()
    os.environ[KEY_ENV] = PASSPHRASE
    print(
        f"medians: first run after a change of {args.first_runs}, steady and subprocess.run "
        f"of {args.runs}"
    )
    print(
        f"{'entries':>8} {'first run':>12} {'steady':>11} {'subprocess':>12} "
        f"{'steady/sub':>11} {'first/steady':>13}"
    )
    medians = {}
    with tempfile.TemporaryDirectory() as directory:
        for entry_count in ENTRY_COUNTS:
            medians[entry_count] = measure(entry_count, args.runs, args.first_runs, Path(directory))
            print_row(entry_count, medians[entry_count])
    lines = goal_lines(medians)
    print("\n".join(lines))
    return 1 if any(line.endswith("MISSED") for line in lines) else 0


if __name__ == "__main__":
    sys.exit(main())
