"""Key derivation: ours against argon2-cffi's hash_secret_raw, side by side.

Build the C++ side first:

    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLBOX_BUILD_BENCHMARKS=ON
    cmake --build build/bench --target bench_kdf
    python bench/kdf.py [--binary build/bench/bench_kdf] [--rounds 7]

Each round times one derivation of ours (in its own process, timed inside it)
and then one of the reference, so both see the same machine load. Ratios are
medians, ours / reference. Our lanes run one after another on one thread by
design, while the reference uses one thread per lane: the multi-lane line is
context, not a goal.
"""

from __future__ import annotations

import argparse
import statistics
import subprocess
import sys
import time
from pathlib import Path

from argon2.low_level import Type, hash_secret_raw

ROOT = Path(__file__).resolve().parents[1]

# (m_cost KiB, t_cost, p_cost, goal for the ratio or None for context only)
CASES = [
    (65536, 3, 1, 1.0),
    (65536, 3, 4, None),
]


def ours(binary: Path, m_cost: int, t_cost: int, p_cost: int) -> float:
    completed = subprocess.run(
        [str(binary), str(m_cost), str(t_cost), str(p_cost)],
        check=True,
        capture_output=True,
        text=True,
    )
    return float(completed.stdout)


def reference(m_cost: int, t_cost: int, p_cost: int) -> float:
    start = time.perf_counter()
    hash_secret_raw(
        secret=b"benchmark passphrase",
        salt=bytes(16),
        time_cost=t_cost,
        memory_cost=m_cost,
        parallelism=p_cost,
        hash_len=32,
        type=Type.ID,
        version=19,
    )
    return time.perf_counter() - start


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", type=Path, default=ROOT / "build" / "bench" / "bench_kdf")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    if not args.binary.exists():
        print(f"{args.binary} not found: build it as the docstring shows", file=sys.stderr)
        return 2

    missed = False
    for m_cost, t_cost, p_cost, goal in CASES:
        ours_times, reference_times = [], []
        for _ in range(args.rounds):
            ours_times.append(ours(args.binary, m_cost, t_cost, p_cost))
            reference_times.append(reference(m_cost, t_cost, p_cost))
        mine, theirs = statistics.median(ours_times), statistics.median(reference_times)
        ratio = mine / theirs
        if goal is None:
            verdict = "context"
        else:
            verdict = f"goal <= {goal:.1f}: {'met' if ratio <= goal else 'MISSED'}"
            missed |= ratio > goal
        print(
            f"m_cost={m_cost} t_cost={t_cost} p_cost={p_cost}: ours {mine * 1000:.1f} ms, "
            f"argon2-cffi {theirs * 1000:.1f} ms, ratio {ratio:.2f} ({verdict})"
        )
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
