"""Runs whose output holds the heads of long values: their whole time against the timeout.

Two cases, each through Vault.run_with with `cat` printing a prepared file, timed side by
side with the same run in a vault whose only entry is a short token the output does not
hold (the reference: spawning, capture and a redaction that finds nothing):

    head printed 100 times   a 1 MiB value of letters and digits (so that its percent and
                             JSON forms are the value itself), its first 4 KiB printed on
                             100 lines; timeout 3 s
    nearly everywhere        an 8 KiB value, 8191 "x" and a "y", against 256 KiB of "x":
                             every start holds the value's head and all but its last
                             byte; timeout 3 s

The first run of each vault builds its redactor and is timed on its own (build). Prints the
median of the later runs for ours and the reference, the ratio, and whether the run came
back whole (not timed out, output unchanged, as no value is printed whole). Exits non-zero
when a run times out, changes the output, or takes more than its timeout plus a second.

    .venv/bin/python bench/long_values.py [--runs N]
"""

from __future__ import annotations

import argparse
import os
import random
import statistics
import string
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
import reference_vault
from quillbox import Vault

KEY_ENV = "QUILLBOX_BENCH_KEY"
PASSPHRASE = "benchmark passphrase"
TIMEOUT_SECS = 3
HEAD_BYTES = 4096


@dataclass
class Case:
    name: str
    value: bytes
    output: bytes


def cases() -> list[Case]:
    rng = random.Random(20261211)
    alphabet = (string.ascii_letters + string.digits).encode()
    long_value = bytes(rng.choice(alphabet) for _ in range(1 << 20))
    return [
        Case("head printed 100 times", long_value, (long_value[:HEAD_BYTES] + b"\n") * 100),
        Case("nearly everywhere", b"x" * 8191 + b"y", b"x" * (256 << 10)),
    ]


def timed_run(vault: Vault, output_file: Path) -> tuple[float, object]:
    started = time.perf_counter()
    result = vault.run_with(["cat", str(output_file)], timeout_secs=TIMEOUT_SECS)
    return time.perf_counter() - started, result


def measure(case: Case, runs: int, directory: Path) -> bool:
    output_file = directory / "output"
    output_file.write_bytes(case.output)
    expected = case.output.decode()
    times: dict[str, list[float]] = {}
    build: dict[str, float] = {}
    whole = True
    for label, value in (("ours", case.value), ("reference", b"unrelated-token-0123456789")):
        path = directory / f"{label}.vault"
        path.write_bytes(reference_vault.encode([("LONG", value)], PASSPHRASE.encode()))
        path.chmod(0o600)
        with Vault(KEY_ENV, str(path)) as vault:
            build[label], _ = timed_run(vault, output_file)
            times[label] = []
            for _ in range(runs):
                seconds, result = timed_run(vault, output_file)
                times[label].append(seconds)
                if result.timed_out or result.stdout != expected:
                    whole = False
    ours, reference = statistics.median(times["ours"]), statistics.median(times["reference"])
    slowest = max(times["ours"] + [build["ours"]])
    within = slowest <= TIMEOUT_SECS + 1
    print(
        f"{case.name:24} ours {ours * 1000:9.1f} ms  reference {reference * 1000:7.1f} ms  "
        f"ratio {ours / reference:6.2f}  first run (build) {build['ours'] * 1000:8.1f} ms  "
        f"slowest {slowest:6.2f} s  {'whole' if whole else 'NOT WHOLE'}"
        f"{'' if within else '  OVER THE TIMEOUT'}"
    )
    return whole and within


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    os.environ[KEY_ENV] = PASSPHRASE
    with tempfile.TemporaryDirectory() as directory:
        results = [measure(case, args.runs, Path(directory)) for case in cases()]
    sys.exit(0 if all(results) else 1)


if __name__ == "__main__":
    main()
