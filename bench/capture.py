"""Capture of 50 MiB of output: the executor against subprocess.run, side by side.

Writes a 50 MiB text file, then times `cat FILE` with
subprocess.run(..., capture_output=True) here and through the executor (with 100
secrets in its redactor) in bench_run_overhead, and prints the ratio of the
medians. The three take turns, one run each per round, so that whatever else the
machine does falls on all alike, and every run's output is checked: all 50 MiB
from subprocess.run and from the executor without secrets, and with the planted
secret replaced by its label from the executor with secrets. The goal is a ratio
of at most 1.2. The executor without secrets is the capture alone, without the
redactor's scan.

    python3 bench/capture.py [path/to/bench_run_overhead] [--repeat K]
"""

import os
import random
import re
import statistics
import subprocess
import sys
import tempfile
import time

SIZE = 50 * 1024 * 1024
PLANTED = "qb-bench-planted-secret-value"


def write_text(path: str) -> None:
    rng = random.Random(7)
    alphabet = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,:;-_/"
    lines = ["".join(rng.choice(alphabet) for _ in range(79)) + "\n" for _ in range(997)]
    lines[500] = f"token={PLANTED} rest of the line\n"
    block = "".join(lines).encode()
    with open(path, "wb") as out:
        written = 0
        while written < SIZE:
            part = block[: SIZE - written]
            out.write(part)
            written += len(part)


def time_subprocess(path: str) -> float:
    start = time.perf_counter()
    result = subprocess.run(["cat", path], capture_output=True)
    elapsed = time.perf_counter() - start
    assert len(result.stdout) == SIZE, "subprocess.run lost output"
    return elapsed


def time_executor(binary: str, path: str, secrets: int, expected_size: int) -> float:
    report = subprocess.run(
        [binary, "--capture", path, "--planted", PLANTED, "--repeat", "1",
         "--secrets", str(secrets)],
        capture_output=True, text=True, check=True,
    ).stdout
    captured = int(re.search(r"stdout_chars=([0-9]+)", report).group(1))
    assert captured == expected_size, f"the executor returned {captured} bytes, not {expected_size}"
    return float(re.search(r"median=([0-9.]+)", report).group(1))


def main() -> None:
    args = sys.argv[1:]
    repeat = 7
    if "--repeat" in args:
        at = args.index("--repeat")
        repeat = int(args[at + 1])
        del args[at : at + 2]
    binary = args[0] if args else "build/bench/bench_run_overhead"
    times: dict[str, list[float]] = {"reference": [], "redacted": [], "capture alone": []}
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "output.txt")
        write_text(path)
        with open(path, "rb") as text:
            planted = text.read().count(PLANTED.encode())
        redacted_size = SIZE - planted * (len(PLANTED) - len("[REDACTED_PLANTED]"))
        for _ in range(repeat):
            times["reference"].append(time_subprocess(path))
            times["redacted"].append(time_executor(binary, path, 100, redacted_size))
            times["capture alone"].append(time_executor(binary, path, 0, SIZE))
    python, redacted, capture_alone = (statistics.median(times[k]) for k in times)
    print(f"cat of 50 MiB, median of {repeat} rounds, each run's output checked")
    print(f"  subprocess.run(capture_output=True)   {python * 1e3:8.1f} ms")
    print(f"  executor, 100 secrets, redacted       {redacted * 1e3:8.1f} ms")
    print(f"  executor, no secrets                  {capture_alone * 1e3:8.1f} ms"
          f"  (ratio {capture_alone / python:.2f})")
    print(f"ratio={redacted / python:.2f} goal<=1.20")


if __name__ == "__main__":
    main()
