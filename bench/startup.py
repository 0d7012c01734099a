"""Starts of the installed `quillbox` command against `python -c pass`, as a user
starts them.

Every start is a new process, the commands of a table taking turns, and the
median wall time of each is compared with the reference's. Every start must exit
0 and print what it should (the version; nothing at all for `true`), or the
benchmark stops there. The vaults have cheap key-derivation costs, so that what
is measured is quillbox's own start (the interpreter, the imports, the argument
parsing, opening the vault, building its redactor and running the command)
rather than the passphrase's deliberate cost. The goals:

    quillbox --version                       at most 1.5 times python -c pass
    quillbox run -- true, 5 entries          at most 2.0 times python -c pass
    quillbox run -- true, 10,000 entries     at most 0.1 s

Each start of `run` builds the redactor of its vault's entries: with 10,000 of
them that is most of the start, so that table has rounds of its own, fewer of
them. The exit status is non-zero when a goal is missed.

    .venv/bin/python bench/startup.py [--runs N] [--large-runs N]
"""

from __future__ import annotations

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from importlib.metadata import version
from pathlib import Path

from bench_vault import (
    PASSPHRASE,
    few_entries,
    goal_line,
    time_goal_line,
    token_entries,
    write_vault,
)

KEY_ENV = "QUILLBOX_KEY"
LARGE_VAULT_ENTRIES = 10_000
REFERENCE = "python -c pass"
VERSION = "quillbox --version"
RUN = "quillbox run -- true"
LARGE_RUN = f"quillbox run -- true, {LARGE_VAULT_ENTRIES:,} entries"
RATIO_GOALS = {VERSION: 1.5, RUN: 2.0}
LARGE_RUN_GOAL_SECONDS = 0.1
WARM_UP_ROUNDS = 3


def timed(command: list[str], printed: str, env: dict[str, str]) -> float:
    """The wall time of one start, which must exit 0 and print `printed`
    alone."""
    started = time.perf_counter()
    done = subprocess.run(command, env=env, capture_output=True, text=True)
    elapsed = time.perf_counter() - started
    if (done.returncode, done.stdout, done.stderr) != (0, printed, ""):
        sys.exit(
            f"{' '.join(command)}: exit status {done.returncode}, printed {done.stdout!r} "
            f"and {done.stderr!r} on standard error, where {printed!r} alone was due"
        )
    return elapsed


def median_times(
    starts: dict[str, tuple[list[str], str]], rounds: int, env: dict[str, str]
) -> dict[str, float]:
    """Each start (its command and what it prints) once per round, after a
    few rounds that warm the caches; the median of each."""
    times: dict[str, list[float]] = {name: [] for name in starts}
    for round_number in range(WARM_UP_ROUNDS + rounds):
        for name, (command, printed) in starts.items():
            elapsed = timed(command, printed, env)
            if round_number >= WARM_UP_ROUNDS:
                times[name].append(elapsed)
    return {name: statistics.median(values) for name, values in times.items()}


def print_table(medians: dict[str, float], rounds: int) -> None:
    print(f"median of {rounds} starts each, taking turns")
    reference = medians[REFERENCE]
    for name, median in medians.items():
        ratio = "" if name == REFERENCE else f"  (ratio {median / reference:.2f})"
        print(f"  {name:38} {median * 1e3:8.1f} ms{ratio}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--large-runs", type=int, default=7)
    args = parser.parse_args()
    script = str(Path(sys.executable).with_name("quillbox"))
    reference = ([sys.executable, "-c", "pass"], "")
    env = dict(os.environ, **{KEY_ENV: PASSPHRASE})
    with tempfile.TemporaryDirectory() as directory:
        small = write_vault(Path(directory) / "small.bin", few_entries())
        large = write_vault(Path(directory) / "large.bin", token_entries(LARGE_VAULT_ENTRIES))
        starts = {
            REFERENCE: reference,
            VERSION: ([script, "--version"], f"quillbox {version('quillbox')}\n"),
            RUN: ([script, "run", "--vault", str(small), "--", "true"], ""),
        }
        medians = median_times(starts, args.runs, env)
        large_starts = {
            REFERENCE: reference,
            LARGE_RUN: ([script, "run", "--vault", str(large), "--", "true"], ""),
        }
        large_medians = median_times(large_starts, args.large_runs, env)
    print_table(medians, args.runs)
    print_table(large_medians, args.large_runs)
    lines = [
        goal_line(medians[name] / medians[REFERENCE], goal, name)
        for name, goal in RATIO_GOALS.items()
    ]
    lines.append(time_goal_line(large_medians[LARGE_RUN], LARGE_RUN_GOAL_SECONDS, LARGE_RUN))
    print("\n".join(lines))
    return 1 if any(line.endswith("MISSED") for line in lines) else 0


if __name__ == "__main__":
    sys.exit(main())
