"""Live output: Vault.run_with(..., stdout=destination) and `quillbox run` against
the same child writing to the same destination directly, side by side.

Children, each writing about --size bytes (default 1 GiB):

    zeros    head -c SIZE /dev/zero
    base64   base64 -w 76 FILE, FILE random bytes into which a token of the vault
             is planted every MiB or so, so that the text holds it whole

Vaults of 0, 100 and 10,000 entries shaped like API tokens. The first run of a
vault builds its redactor, which takes about a second with 10,000: it is timed
apart (running `true`), so that the cases time the steady state.

Destinations: a pipe that this process drains (as `| cat` would, counting what
arrives), with every vault, from Vault.run_with and from `quillbox run --vault V
-- CHILD` (as `quillbox run -- CHILD | cat` is used; each of its runs is a new
process, which pays its start and its redactor every time); a regular file and
/dev/null, from Vault.run_with through 100 entries.

The reference is the child started with subprocess.run(CHILD, stdout=the same
destination). Rounds take turns over every case, ours then the reference, so that
both see the same machine load; ratios are medians, ours / reference. Every run
is checked: the number of bytes that arrives, and for the text that each planted
token arrives as its label (or as it is, from the vault without entries).

Goals, into the pipe: at most 1.25 for the zeros, 1.5 for the text; the exit
status is non-zero when one is missed. The file and /dev/null are context: there
the child alone wakes no reader, and into /dev/null copies nothing at all, where
ours passes every byte through a pipe of its own.

    .venv/bin/python bench/live_output.py [--size 1G] [--rounds 3] [--cpu N]
"""

from __future__ import annotations

import argparse
import os
import random
import statistics
import string
import subprocess
import sys
import tempfile
import threading
import time
from base64 import b64decode
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

from bench_vault import PASSPHRASE, goal_line, write_vault
from quillbox import Vault

KEY_ENV = "QUILLBOX_KEY"  # the command line's own default
QUILLBOX = Path(sys.executable).with_name("quillbox")
TOKEN_ALPHABET = string.ascii_letters + string.digits
# Forty characters of the Base64 alphabet decode to thirty bytes whole.
TOKEN_LENGTH = 40
PLANTED_KEY = "TOKEN_0"
LABEL = f"[REDACTED_{PLANTED_KEY}]".encode()
ENTRY_COUNTS = (0, 100, 10_000)
# A line of `base64 -w 76` encodes 57 bytes; a planted token starts 3 bytes into
# the first line of each block, so that it is 4 characters into a line.
LINE_BYTES = 57
BLOCK_LINES = 18_396  # about 1 MiB of input per planted token
GOALS = {"zeros": 1.25, "base64": 1.5}


def token_entries(count: int) -> list[tuple[str, bytes]]:
    rng = random.Random(7)
    return [
        (f"TOKEN_{i}", "".join(rng.choice(TOKEN_ALPHABET) for _ in range(TOKEN_LENGTH)).encode())
        for i in range(count)
    ]


PLANTED = token_entries(1)[0][1]


@dataclass(frozen=True)
class Expected:
    """What arrives: `size` bytes, `word` standing at each of `offsets`."""

    size: int
    word: bytes = b""
    offsets: tuple[int, ...] = ()


@dataclass(frozen=True)
class Output:
    name: str
    child: list[str]
    size: int  # the bytes the child writes
    planted: int  # how many tokens it writes, one at the start of each block
    block_size: int = 0  # the bytes of text from one token to the next

    def expected(self, entries: int) -> Expected:
        """What arrives through a vault of `entries` (0 for the child alone):
        each token 4 characters into its block, or its label, shifted by the
        labels before it."""
        if self.planted == 0:
            return Expected(self.size)
        word = LABEL if entries else PLANTED
        shift = len(word) - TOKEN_LENGTH
        offsets = tuple(k * (self.block_size + shift) + 4 for k in range(self.planted))
        return Expected(self.size + self.planted * shift, word, offsets)


def zeros(size: int) -> Output:
    return Output("zeros", ["head", "-c", str(size), "/dev/zero"], size, 0)


def base64_text(directory: Path, size: int) -> Output:
    """`base64 -w 76` of a random file that makes about `size` bytes of text."""
    block = LINE_BYTES * BLOCK_LINES
    # Each full line of 57 bytes becomes 76 characters and a newline.
    block_text = BLOCK_LINES * (76 + 1)
    blocks = max(1, size // block_text)
    path = directory / "random"
    with open(path, "wb") as random_file:
        for _ in range(blocks):
            bytes_ = bytearray(os.urandom(block))
            bytes_[3 : 3 + TOKEN_LENGTH * 3 // 4] = b64decode(PLANTED)
            random_file.write(bytes_)
    return Output(
        "base64", ["base64", "-w", "76", str(path)], blocks * block_text, blocks, block_text
    )


class Drain(threading.Thread):
    """Reads a pipe to its end as `cat` would, counting the bytes and the
    places of `expected` that hold its word."""

    def __init__(self, read_end: int, expected: Expected):
        super().__init__()
        self.read_end = read_end
        self.expected = expected
        self.received = 0
        self.found = 0

    def run(self) -> None:
        word, offsets = self.expected.word, self.expected.offsets
        buffer = bytearray(128 * 1024)
        # The stream's last bytes before this read, where a word may begin.
        before = b""
        next_word = 0
        while (got := os.readv(self.read_end, [buffer])) > 0:
            start, self.received = self.received, self.received + got
            while next_word < len(offsets) and offsets[next_word] + len(word) <= self.received:
                at = offsets[next_word] - start
                piece = (
                    buffer[at : at + len(word)]
                    if at >= 0
                    else before[at:] + buffer[: at + len(word)]
                )
                self.found += piece == word
                next_word += 1
            if word:
                before = (before + bytes(buffer[max(0, got - len(word)) : got]))[-len(word) :]
        os.close(self.read_end)


def into_pipe(start: Callable[[int], None], expected: Expected) -> tuple[int, int]:
    read_end, write_end = os.pipe()
    drain = Drain(read_end, expected)
    drain.start()
    try:
        start(write_end)
    finally:
        os.close(write_end)
        drain.join()
    return drain.received, drain.found


def into_file(path: Path) -> Callable[[Callable[[int], None], Expected], tuple[int, int]]:
    def deliver(start: Callable[[int], None], expected: Expected) -> tuple[int, int]:
        with open(path, "wb") as destination:
            start(destination.fileno())
        found = 0
        with open(path, "rb") as arrived:
            for offset in expected.offsets:
                arrived.seek(offset)
                found += arrived.read(len(expected.word)) == expected.word
        return path.stat().st_size, found

    return deliver


def into_null(start: Callable[[int], None], expected: Expected) -> tuple[int, int]:
    with open("/dev/null", "wb") as destination:
        start(destination.fileno())
    # Nothing to count: what the run must give.
    return expected.size, len(expected.offsets)


@dataclass
class Case:
    front: str  # "run_with" or "cli"
    output: Output
    destination: str
    entries: int
    ours: list[float]
    reference: list[float]


def timed(deliver: Callable, start: Callable[[int], None], expected: Expected) -> float:
    """The time `start` takes to deliver what `expected` says, checked."""
    started = time.perf_counter()
    arrived = deliver(start, expected)
    elapsed = time.perf_counter() - started
    wanted = (expected.size, len(expected.offsets))
    assert arrived == wanted, f"arrived (bytes, words in place) {arrived}, expected {wanted}"
    return elapsed


def time_true(vault: Vault) -> float:
    started = time.perf_counter()
    vault.run_with(["true"])
    return time.perf_counter() - started


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", default="1G", help="bytes each child writes: 1G, 256M, ...")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cpu", type=int, help="run on this one CPU only")
    args = parser.parse_args()
    if args.cpu is not None:
        os.sched_setaffinity(0, {args.cpu})
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    size = int(args.size[:-1]) * units[args.size[-1]] if args.size[-1] in units else int(args.size)
    os.environ[KEY_ENV] = PASSPHRASE
    env = dict(os.environ)

    with tempfile.TemporaryDirectory(prefix="bench-live-") as directory_name:
        directory = Path(directory_name)
        outputs = [zeros(size), base64_text(directory, size)]
        vaults: dict[int, Vault] = {}
        print("first run of `true` (the vault's redactor is built), then a later one")
        for entries in ENTRY_COUNTS:
            path = write_vault(directory / f"vault-{entries}.bin", token_entries(entries))
            vaults[entries] = Vault(KEY_ENV, str(path))
            first, later = (time_true(vaults[entries]) for _ in range(2))
            print(f"  {entries:>6} entries: {first * 1e3:8.1f} ms, then {later * 1e3:6.1f} ms")

        # Every vault into the pipe, from both front ends; the file and /dev/null,
        # whose references write without a reader, from run_with through 100.
        cases = [
            Case(front, output, "pipe", entries, [], [])
            for front in ("run_with", "cli")
            for output in outputs
            for entries in ENTRY_COUNTS
        ] + [
            Case("run_with", output, destination, 100, [], [])
            for output in outputs
            for destination in ("file", "/dev/null")
        ]

        def destination_of(case: Case) -> Callable:
            if case.destination == "pipe":
                return into_pipe
            if case.destination == "file":
                return into_file(directory / "arrived")
            return into_null

        def ours(case: Case) -> Callable[[int], None]:
            if case.front == "cli":
                command = [
                    str(QUILLBOX),
                    "run",
                    "--vault",
                    str(directory / f"vault-{case.entries}.bin"),
                    "--",
                    *case.output.child,
                ]
                return lambda fd: subprocess.run(command, stdout=fd, env=env, check=True)

            def run_with(fd: int) -> None:
                result = vaults[case.entries].run_with(
                    case.output.child, stdout=fd, max_output_bytes=None, timeout_secs=None
                )
                assert result.exit_code == 0, f"{case.output.child} exited {result.exit_code}"

            return run_with

        def reference(case: Case) -> Callable[[int], None]:
            return lambda fd: subprocess.run(case.output.child, stdout=fd, check=True)

        for _ in range(args.rounds):
            for case in cases:
                deliver = destination_of(case)
                case.ours.append(timed(deliver, ours(case), case.output.expected(case.entries)))
                case.reference.append(timed(deliver, reference(case), case.output.expected(0)))

        for vault in vaults.values():
            vault.close()

    print(f"\nmedian of {args.rounds} rounds, {size:,} bytes of output: ours, the child alone")
    missed = False
    for case in cases:
        mine, theirs = statistics.median(case.ours), statistics.median(case.reference)
        ratio = mine / theirs
        what = f"{case.front} {case.output.name} -> {case.destination}, {case.entries} entries"
        if case.destination == "pipe":
            goal = GOALS[case.output.name]
            missed |= ratio > goal
            verdict = goal_line(ratio, goal, what)
        else:
            verdict = f"ratio={ratio:.2f} ({what}): context"
        print(f"  {mine:6.3f} s  {theirs:6.3f} s  {verdict}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
