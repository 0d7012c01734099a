"""Capture of 48 MiB: Vault.run and Vault.run_with reading `.stdout`, against
subprocess.run returning bytes and returning text, side by side from Python.

Three texts of 48 MiB, each of random lines with a planted secret on one in
997: ASCII; Latin, letters and spaces of which more than a third are accented
letters, two bytes in UTF-8 (a str of one byte a character); and CJK, three
bytes in UTF-8 a character (a str of two). Each is the output of `cat FILE`,
taken through

    Vault.run, 5 entries          a vault of bench_vault.few_entries()
    Vault.run_with, 100 entries   a vault of 99 random tokens and the planted
                                  secret, whose label must replace it
    subprocess.run, bytes         capture_output=True
    subprocess.run, text          capture_output=True, text=True (UTF-8, with
                                  errors="replace", as quillbox decodes)

timed from the call until `.stdout` is read. Each round runs every variant on
every text once, taking turns, so that whatever else the machine does falls on
all alike, and starts one variant further on than the round before; every
output is compared with what it must be; the medians are compared. The goals:
at most 1.0 against bytes, 0.5 against text.

Peak memory: Vault.run and both subprocess.run in a fresh interpreter each, the
peak resident memory once `.stdout` has been read (VmHWM, reset just before the
call) less the resident memory just before it, over the output's size in
bytes. The goal for Vault.run: at most 1.2 for every text. subprocess.run's
figures are context. The exit status is non-zero when a goal is missed.

    .venv/bin/python bench/capture.py [--rounds N] [--text ASCII|Latin|CJK ...]
"""

from __future__ import annotations

import argparse
import os
import random
import shlex
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable, Hashable
from pathlib import Path
from typing import TypeVar

from bench_vault import PASSPHRASE, few_entries, goal_line, write_vault
from quillbox import Vault

K = TypeVar("K", bound=Hashable)
KEY_ENV = "QUILLBOX_BENCH_KEY"
SIZE = 48 * 1024 * 1024
PLANTED = "qb-bench-planted-secret-value"
LABEL = "[REDACTED_PLANTED]"
LINES_A_BLOCK = 997
GOAL_AGAINST_BYTES = 1.0
GOAL_AGAINST_TEXT = 0.5
GOAL_MEMORY = 1.2

ASCII_LETTERS = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,:;-_/"
LATIN_LETTERS = "abcdefghijklmnopqrstuvwxyz     àâäçéèêëîïôöùûüÿßñ"
CJK_LETTERS = "".join(chr(code) for code in range(0x4E00, 0x4E00 + 400)) + "，。"
# Each text's letters and how many of them make a line.
TEXTS = {"ASCII": (ASCII_LETTERS, 79), "Latin": (LATIN_LETTERS, 64), "CJK": (CJK_LETTERS, 40)}


def write_text(path: Path, letters: str, line_length: int) -> str:
    """A file of SIZE bytes: a block of random lines, one of them holding the
    planted secret, repeated, and cut on a character's boundary. Returns its text."""
    rng = random.Random(7)
    lines = [
        "".join(rng.choice(letters) for _ in range(line_length)) + "\n"
        for _ in range(LINES_A_BLOCK)
    ]
    lines[LINES_A_BLOCK // 2] = f"token={PLANTED} rest of the line\n"
    block = "".join(lines).encode()
    content = (block * (SIZE // len(block) + 1))[:SIZE]
    text = content.decode(errors="ignore")
    path.write_text(text, encoding="utf-8")
    return text


def redacted(text: str) -> str:
    return text.replace(PLANTED, LABEL)


def hundred_entries() -> list[tuple[str, bytes]]:
    rng = random.Random(11)
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
    tokens = [(f"TOKEN_{i:02}", "".join(rng.choices(alphabet, k=32)).encode()) for i in range(99)]
    return [("PLANTED", PLANTED.encode()), *tokens]


def timed(call: Callable[[], str | bytes], expected: str | bytes, what: str) -> float:
    started = time.perf_counter()
    stdout = call()
    elapsed = time.perf_counter() - started
    assert stdout == expected, f"{what} returned other output than the file's"
    return elapsed


def variants(few: Vault, hundred: Vault, path: Path, text: str) -> dict[str, Callable[[], float]]:
    """Each variant's timed call on one text, checking its output."""
    command = ["cat", str(path)]
    content = text.encode()
    with_label = redacted(text)
    assert with_label != text, "the planted secret is missing from the text"
    return {
        "Vault.run, 5 entries": lambda: timed(
            lambda: few.run(shlex.join(command)).stdout, text, "Vault.run"
        ),
        "Vault.run_with, 100 entries": lambda: timed(
            lambda: hundred.run_with(command).stdout, with_label, "Vault.run_with"
        ),
        "subprocess.run, bytes": lambda: timed(
            lambda: subprocess.run(command, capture_output=True).stdout, content, "bytes"
        ),
        "subprocess.run, text": lambda: timed(
            lambda: (
                subprocess.run(
                    command, capture_output=True, text=True, encoding="utf-8", errors="replace"
                ).stdout
            ),
            text,
            "text",
        ),
    }


def median_of_rounds(variants: dict[K, Callable[[], float]], rounds: int) -> dict[K, float]:
    """Each variant (a call returning one figure) once per round, each round
    starting one variant further on, since the first after another's large
    frees pays for it; the median of each."""
    figures: dict[K, list[float]] = {name: [] for name in variants}
    names = list(variants)
    for round_number in range(rounds):
        start = round_number % len(names)
        for name in names[start:] + names[:start]:
            figures[name].append(variants[name]())
    return {name: statistics.median(values) for name, values in figures.items()}


# Run in a fresh interpreter, with the key's variable, the vault and the file as
# arguments, so that nothing else this script holds moves the figure. The peak is the
# process's own (VmHWM), started afresh just before the call: ru_maxrss would also hold
# the peak of the process that started this one, which exec hands down. The output is
# checked once the peak is read.
MEMORY_PROBE = """
import re, sys
def status_bytes(field):
    status = open("/proc/self/status").read()
    return int(re.search(field + r":\\s+([0-9]+) kB", status).group(1)) * 1024
key_env, vault_path, path = sys.argv[1:]
{setup}
open("/proc/self/clear_refs", "w").write("5")
before = status_bytes("VmRSS")
stdout = {call}
growth = status_bytes("VmHWM") - before
expected = open(path, "rb").read()
print(growth, stdout == (expected if isinstance(stdout, bytes) else expected.decode()))
"""
PROBES = {
    "Vault.run": (
        "from quillbox import Vault; vault = Vault(key_env, vault_path)",
        "vault.run('cat ' + path).stdout",
    ),
    "subprocess.run, bytes": (
        "import subprocess",
        "subprocess.run(['cat', path], capture_output=True).stdout",
    ),
    "subprocess.run, text": (
        "import subprocess",
        "subprocess.run(['cat', path], capture_output=True, text=True, encoding='utf-8',"
        " errors='replace').stdout",
    ),
}


def peak_growth_per_output_byte(probe: str, vault_path: Path, path: Path) -> float:
    setup, call = PROBES[probe]
    report = subprocess.run(
        [
            sys.executable,
            "-c",
            MEMORY_PROBE.format(setup=setup, call=call),
            KEY_ENV,
            str(vault_path),
            str(path),
        ],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    growth, matched = report.split()
    assert matched == "True", f"{probe} returned other output than the file's"
    return int(growth) / path.stat().st_size


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument(
        "--text", choices=TEXTS, action="append", help="only this text (repeatable); all by default"
    )
    args = parser.parse_args()
    texts = {name: TEXTS[name] for name in args.text or TEXTS}
    os.environ[KEY_ENV] = PASSPHRASE
    missed = False
    with tempfile.TemporaryDirectory(prefix="bench-capture-") as directory:
        folder = Path(directory)
        few_path = write_vault(folder / "few.bin", few_entries())
        hundred_path = write_vault(folder / "hundred.bin", hundred_entries())
        paths = {name: folder / f"{name}.txt" for name in texts}
        with Vault(KEY_ENV, str(few_path)) as few, Vault(KEY_ENV, str(hundred_path)) as hundred:
            # The first run of a vault state builds its redactor.
            few.run("true")
            hundred.run_with(["true"])
            timed_variants = {}
            for name, (letters, line_length) in texts.items():
                text = write_text(paths[name], letters, line_length)
                for variant, call in variants(few, hundred, paths[name], text).items():
                    timed_variants[name, variant] = call
                del text
            times = median_of_rounds(timed_variants, args.rounds)
        memory = median_of_rounds(
            {
                (name, probe): lambda name=name, probe=probe: peak_growth_per_output_byte(
                    probe, few_path, paths[name]
                )
                for name in texts
                for probe in PROBES
            },
            args.rounds,
        )

    print(f"`cat` of 48 MiB, reading .stdout: median of {args.rounds} rounds, outputs checked")
    for name in texts:
        print(f"{name}:")
        for (text_name, variant), seconds in times.items():
            if text_name == name:
                print(f"  {variant:<30} {seconds * 1e3:8.1f} ms")
        for ours in ("Vault.run, 5 entries", "Vault.run_with, 100 entries"):
            for reference, goal in (
                ("subprocess.run, bytes", GOAL_AGAINST_BYTES),
                ("subprocess.run, text", GOAL_AGAINST_TEXT),
            ):
                ratio = times[name, ours] / times[name, reference]
                missed |= ratio > goal
                print("  " + goal_line(ratio, goal, f"{ours} / {reference}"))
    print("peak resident growth once .stdout is read / output size, fresh interpreter each")
    for name in texts:
        context = ", ".join(
            f"{probe} {memory[name, probe]:.2f}" for probe in PROBES if probe != "Vault.run"
        )
        print(f"  {name:<6} Vault.run {memory[name, 'Vault.run']:.2f}  ({context})")
        ratio = memory[name, "Vault.run"]
        missed |= ratio > GOAL_MEMORY
        print("    " + goal_line(ratio, GOAL_MEMORY, f"Vault.run, {name}"))
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
