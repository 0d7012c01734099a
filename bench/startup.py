"""`quillbox run true` against `python -c pass`, as a user starts them.

Both are started as new processes, taking turns, and the median wall time of
each is compared: the ratio ours / reference is printed. The vault has cheap
key-derivation costs and a few entries, so that what is measured is quillbox's
own start (the interpreter, imports, argument parsing, opening the vault and
running the command) rather than the passphrase's deliberate cost. The goal:
at most 2.

    .venv/bin/python bench/startup.py [--runs N]
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

from bench_vault import PASSPHRASE, few_entries, goal_line, write_vault

KEY_ENV = "QUILLBOX_KEY"
GOAL = 2.0


def timed(command: list[str], env: dict[str, str]) -> float:
    started = time.perf_counter()
    subprocess.run(command, env=env, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=40)
    runs = parser.parse_args().runs
    script = Path(sys.executable).with_name("quillbox")
    with tempfile.TemporaryDirectory() as directory:
        path = write_vault(Path(directory) / "vault.bin", few_entries())
        env = dict(os.environ, **{KEY_ENV: PASSPHRASE})
        ours_command = [str(script), "run", "--vault", str(path), "true"]
        reference_command = [sys.executable, "-c", "pass"]
        ours, reference = [], []
        for _ in range(3):
            timed(ours_command, env)
            timed(reference_command, env)
        for _ in range(runs):
            ours.append(timed(ours_command, env))
            reference.append(timed(reference_command, env))
    ours_ms, reference_ms = statistics.median(ours) * 1e3, statistics.median(reference) * 1e3
    print(f"median of {runs} starts, taking turns")
    print(f"  python -c pass          {reference_ms:7.1f} ms")
    print(f"  quillbox run true       {ours_ms:7.1f} ms  (ratio {ours_ms / reference_ms:.2f})")
    ratio = ours_ms / reference_ms
    print(goal_line(ratio, GOAL))
    return 0 if ratio <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
