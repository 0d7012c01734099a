"""`quillbox --help` and `quillbox list` started with the command's own grammar
against the same command read by argparse, built lazily
(bench/argparse_command_line.py).

Each start is a new process, started as the installed `quillbox` script starts
(the package's own, python/scripts/quillbox_command.py), the two taking turns; the
median wall times are compared, and the ratio ours / reference printed. The
vault of `list` has cheap key-derivation costs, so that the command's start,
not the passphrase's deliberate cost, is what is measured. The goal, for each
command: at most 0.8, or the grammar no longer earns its place beside argparse.

    .venv/bin/python bench/command_line.py [--runs N]
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

BENCH = Path(__file__).resolve().parent

KEY_ENV = "QUILLBOX_KEY"
GOAL = 0.8
OURS_IMPORT = "from quillbox.cli import main"
REFERENCE_IMPORT = f"sys.path.insert(0, {str(BENCH)!r}); from argparse_command_line import main"


def starts(installed_script: str) -> tuple[str, str]:
    """The installed script's text, and the same with the reference's main."""
    assert OURS_IMPORT in installed_script, "the installed script imports main as expected"
    reference = installed_script.replace(OURS_IMPORT, f"import sys; {REFERENCE_IMPORT}")
    return installed_script, reference.replace("main()", "main(sys.argv[1:])")


def timed(command: list[str], env: dict[str, str]) -> float:
    started = time.perf_counter()
    subprocess.run(command, env=env, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - started


def median_ms(ours: str, reference: str, arguments: list[str], env: dict[str, str], runs: int):
    times: dict[str, list[float]] = {ours: [], reference: []}
    for round_number in range(runs + 3):
        for script in times:
            elapsed = timed([sys.executable, "-c", script, *arguments], env)
            if round_number >= 3:  # the first rounds warm the caches
                times[script].append(elapsed)
    return statistics.median(times[ours]) * 1e3, statistics.median(times[reference]) * 1e3


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=40)
    runs = parser.parse_args().runs
    installed = Path(sys.executable).with_name("quillbox").read_text()
    ours, reference = starts(installed.partition("\n")[2])  # without the #! line
    missed = False
    with tempfile.TemporaryDirectory() as directory:
        path = write_vault(Path(directory) / "vault.bin", few_entries())
        env = dict(os.environ, **{KEY_ENV: PASSPHRASE})
        print(f"median of {runs} starts, taking turns")
        for arguments in (["--help"], ["list", "--vault", str(path)]):
            ours_ms, reference_ms = median_ms(ours, reference, arguments, env, runs)
            ratio = ours_ms / reference_ms
            missed |= ratio > GOAL
            shown = f"quillbox {arguments[0]}"
            print(
                f"  {shown:16} ours {ours_ms:6.1f} ms  argparse {reference_ms:6.1f} ms  "
                f"{goal_line(ratio, GOAL)}"
            )
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
