"""Vault.run("true") against subprocess.run(["true"], capture_output=True).

Both are timed side by side in one process (interleaved, median of many runs)
for vaults of 0, 100, 1,000 and 10,000 entries; the ratio ours / reference is
printed. The redactor is built by the first run of a vault state and shared by
the later ones, so the first run is left out of the timing and a vault's size
should not show. The goals: at most 1.2 with 100 entries, 1.5 with 10,000.

    .venv/bin/python bench/run_overhead.py [--runs N]
"""

from __future__ import annotations

import argparse
import os
import secrets
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
import reference_vault
from quillbox import Vault

KEY_ENV = "QUILLBOX_BENCH_KEY"
PASSPHRASE = "benchmark passphrase"
TOKEN_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"


def random_token() -> bytes:
    return "".join(secrets.choice(TOKEN_ALPHABET) for _ in range(32)).encode()


def timed(call) -> float:
    started = time.perf_counter()
    call()
    return time.perf_counter() - started


def measure(entry_count: int, runs: int, directory: Path) -> tuple[float, float]:
    path = directory / f"vault-{entry_count}.bin"
    entries = [(f"KEY_{i}", random_token()) for i in range(entry_count)]
    path.write_bytes(reference_vault.encode(entries, PASSPHRASE.encode()))
    path.chmod(0o600)
    ours, reference = [], []
    with Vault(KEY_ENV, str(path)) as vault:
        vault.run("true")
        for _ in range(runs):
            ours.append(timed(lambda: vault.run("true")))
            reference.append(timed(lambda: subprocess.run(["true"], capture_output=True)))
    return statistics.median(ours), statistics.median(reference)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    os.environ[KEY_ENV] = PASSPHRASE
    with tempfile.TemporaryDirectory() as directory:
        print(f"{'entries':>8} {'Vault.run':>12} {'subprocess':>12} {'ratio':>7}")
        for entry_count in (0, 100, 1_000, 10_000):
            ours, reference = measure(entry_count, args.runs, Path(directory))
            print(
                f"{entry_count:>8} {ours * 1e3:>9.2f} ms {reference * 1e3:>9.2f} ms "
                f"{ours / reference:>7.2f}"
            )


if __name__ == "__main__":
    main()
