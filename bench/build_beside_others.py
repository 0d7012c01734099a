"""What other threads wait while a run builds the redactor of a changed vault.

A vault of 10,000 entries, each a random token, is open in one process. After a change
(a new value for one entry), thread A makes the first run, which builds the redactor for the new
entries. Meanwhile thread B calls `list_keys()` over and over, and thread C makes a run
of its own once A's has begun. Printed, as medians over several rounds:

    A's first run        how long the run that builds takes
    B's longest wait     the longest `list_keys()` call while A's run lasted: what an
                         operation that needs no redactor waits
    C's run              what a second run during the build waits: it needs the same
                         redactor, so it waits for A's build to end, and builds nothing

and, for comparison, B's longest wait while A makes a run that builds nothing: what the
interpreter's switching between threads alone costs (its switch interval is 5 ms).

Every run must print "ok" and exit 0. The goal: B's longest wait at most 5 ms; the exit
status is non-zero when it is missed.

    .venv/bin/python bench/build_beside_others.py [--rounds N]
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import threading
import time
from pathlib import Path

from bench_vault import PASSPHRASE, random_token, time_goal_line, token_entries, write_vault
from quillbox import Vault

KEY_ENV = "QUILLBOX_BENCH_KEY"
ENTRIES = 10_000
WAIT_GOAL_SECONDS = 0.005


def checked_run(vault: Vault) -> float:
    start = time.perf_counter()
    result = vault.run("printf ok")
    elapsed = time.perf_counter() - start
    if result.exit_code != 0 or result.stdout != "ok":
        sys.exit(f"a run gave exit code {result.exit_code} and {result.stdout!r}")
    return elapsed


def one_round(vault: Vault, round_number: int, change: bool) -> tuple[float, float, float]:
    if change:
        vault.set(f"KEY_{round_number}", random_token())
    a_started = threading.Event()
    a_done = threading.Event()
    times: dict[str, float] = {}
    longest_wait = 0.0

    def first_run() -> None:
        a_started.set()
        times["a"] = checked_run(vault)
        a_done.set()

    def listing() -> None:
        nonlocal longest_wait
        a_started.wait()
        while not a_done.is_set():
            start = time.perf_counter()
            vault.list_keys()
            longest_wait = max(longest_wait, time.perf_counter() - start)

    def second_run() -> None:
        a_started.wait()
        times["c"] = checked_run(vault)

    threads = [threading.Thread(target=body) for body in (listing, first_run, second_run)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return times["a"], longest_wait, times["c"]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7)
    arguments = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        path = write_vault(Path(directory) / "vault.bin", token_entries(ENTRIES))
        os.environ[KEY_ENV] = PASSPHRASE
        with Vault(KEY_ENV, str(path)) as vault:
            checked_run(vault)
            rounds = []
            for number in range(arguments.rounds):
                rounds.append(one_round(vault, number, change=True))
                rounds.append(one_round(vault, number, change=False))
    after_change = [figures for index, figures in enumerate(rounds) if index % 2 == 0]
    steady = [figures for index, figures in enumerate(rounds) if index % 2 == 1]
    first, longest_wait, second = (statistics.median(column) for column in zip(*after_change))
    steady_wait = statistics.median(figures[1] for figures in steady)
    print(f"{ENTRIES:,} entries, medians of {arguments.rounds} rounds after a change:")
    print(f"  A's first run (builds the redactor)   {first * 1e3:8.1f} ms")
    print(f"  B's longest list_keys() wait          {longest_wait * 1e3:8.2f} ms")
    print(f"  C's run during the build              {second * 1e3:8.1f} ms")
    print(f"  B's longest wait beside a steady run  {steady_wait * 1e3:8.2f} ms")
    line = time_goal_line(longest_wait, WAIT_GOAL_SECONDS, "B's longest wait")
    print(line)
    return 0 if line.endswith(": met") else 1


if __name__ == "__main__":
    sys.exit(main())
