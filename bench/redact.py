"""Times the redaction matcher against ahocorasick-rs (leftmost-first) on the same inputs.

Generates secrets shaped like API keys (32 characters of letters, digits, "-" and "_"),
all their patterns (raw, base64, base64url, percent, lower and upper hex, then the forms
real encoders write: Base64 runs at every alignment, percent and JSON variants, then the
lines of their dumps: xxd -p, xxd and hexdump -C), about 16.3 a secret (the HTML, shell and
repr forms and the other percent and JSON variants write such tokens as one of these, so
the redactor does not list them), and three texts that hold them:

    log-like       50 MiB of log lines, about 100 of them ending in a pattern
    base64 lines   50 MiB of random lines of 4 KiB in the secrets' own alphabet (letters,
                   digits and "+/" or "-_"), about 100 of them holding a pattern
    dense matches  8 MiB of short log lines, each ending in a pattern

then runs the C++ benchmark program on those files and the reference in this process,
taking turns, and prints the median of every time and the ratio ours / reference, with
MB/s (10^6 bytes a second) for both:

- matcher scan: every leftmost-first match of the text, found one after another;
- redact (scan, rebuild, decode): by the reference, its search plus the same rebuild and
  lossy decode done in Python;
- whether both found the same matches (count and checksum) and gave the same output size.

Then, for 10 and 10,000 secrets and for sets of about 600, 6,000 and 60,000 patterns
(65, 645 and 6,452 secrets), the matcher build per pattern for ours and the reference,
and how much it grows from about 600 patterns to about 60,000 (1.0 is flat); our
redactor build with its encoding of the patterns (the reference is given them); and the
matcher memory: the growth of resident memory while each builds it, in a fresh process.
Last, our redactor build for 100,000 secrets alone. The goals: the build per pattern grows
at most 1.5 times, the redactor builds in at most 40 ms for 10,000 secrets and 500 ms for
100,000; the exit status is non-zero when one is missed.

Build the program first:
    cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLBOX_BUILD_BENCHMARKS=ON
    cmake --build build/bench --target bench_redact -j2
then run:
    python bench/redact.py [--binary build/bench/bench_redact]
"""

from __future__ import annotations

import argparse
import base64
import json
import random
import re
import statistics
import string
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import ahocorasick_rs
from bench_vault import goal_line, time_goal_line

SEED = 20261210
TEXT_BYTES = 50 * 1024 * 1024
DENSE_TEXT_BYTES = 8 * 1024 * 1024
LINE_BYTES = 4096
OCCURRENCES = 100
TOKEN_ALPHABET = string.ascii_letters + string.digits + "-_"
# The matcher build's time per pattern, from about 1,000 patterns to about 100,000, may
# grow this much; the redactor builds for these numbers of secrets may take this long.
FLATNESS_GOAL = 1.5
BUILD_GOALS_SECONDS = {10_000: 0.040, 100_000: 0.500}
WORDS = [
    "request",
    "response",
    "user",
    "session",
    "cache",
    "miss",
    "hit",
    "connect",
    "timeout",
    "retry",
    "upstream",
    "worker",
    "queue",
    "job",
    "completed",
    "failed",
    "bytes",
    "latency",
    "ok",
    "error",
    "warning",
    "query",
    "select",
    "from",
    "where",
    "id",
    "status",
    "token",
    "auth",
    "refresh",
    "client",
    "server",
    "pool",
    "thread",
    "shutdown",
    "started",
    "listening",
    "port",
    "config",
    "loaded",
    "GET",
    "POST",
    "PUT",
    "DELETE",
    "handler",
    "payload",
    "invoice",
    "account",
    "billing",
    "deploy",
]
LEVELS = ["INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"]
# Byte to Base64 digit, for the standard and the URL-safe alphabet: each digit four times.
BASE64_DIGITS = [
    bytes.maketrans(
        bytes(range(256)),
        4 * (string.ascii_uppercase + string.ascii_lowercase + string.digits + extra).encode(),
    )
    for extra in ("+/", "-_")
]


LETTERS_AND_DIGITS = frozenset((string.ascii_letters + string.digits).encode())
UNRESERVED = LETTERS_AND_DIGITS | frozenset(b"-._~")
MIN_ENCODER_FORM_BYTES = 8


def percent_encode(
    value: bytes, kept=LETTERS_AND_DIGITS, space_as_plus=False, lower=False
) -> bytes:
    escape = b"%%%02x" if lower else b"%%%02X"
    return b"".join(
        b"+" if space_as_plus and b == 0x20 else bytes([b]) if b in kept else escape % b
        for b in value
    )


def base64_run(value: bytes, offset: int, encode) -> bytes:
    """The digits that any Base64 text holding `value` `offset` bytes into a group holds."""
    encoded = encode(bytes(offset) + value + bytes(2))
    return encoded[-(-8 * offset // 6) : 8 * (offset + len(value)) // 6]


def json_escaped(value: bytes, ascii_only: bool, upper: bool, escape_slash: bool) -> bytes:
    text = json.dumps(value.decode(), ensure_ascii=ascii_only)[1:-1]
    if upper:
        text = re.sub(r"\\u([0-9a-f]{4})", lambda escape: "\\u" + escape.group(1).upper(), text)
    return (text.replace("/", "\\/") if escape_slash else text).encode()


def encoder_forms(value: bytes) -> list[tuple[str, bytes]]:
    """The forms real encoders write, in the redactor's order."""
    forms = [
        (suffix, base64_run(value, offset, encode))
        for offset in range(3)
        for suffix, encode in (("_B64", base64.b64encode), ("_B64URL", base64.urlsafe_b64encode))
    ]
    forms += [
        ("_URL", percent_encode(value, kept, space_as_plus, lower))
        for kept in (LETTERS_AND_DIGITS, UNRESERVED, UNRESERVED | {ord("/")})
        for space_as_plus in (False, True)
        for lower in (False, True)
    ]
    forms += [
        ("_JSON", json_escaped(value, ascii_only, upper, escape_slash))
        for ascii_only in (True, False)
        for upper in (False, True)
        for escape_slash in (False, True)
    ]
    return forms


def dump_pieces(value: bytes) -> list[bytes]:
    """The lines of the value's dumps that the redactor lists, in its order: `xxd -p` (30
    bytes a line), `xxd` (16 bytes a line) without its offset, then the hex column of
    `hexdump -C` and its text column after "  |" (8 of its characters not "."), each line of
    4 bytes or more. A value of one line and at most 48 bytes, as here, gives no other
    piece."""

    def lines(size: int) -> list[bytes]:
        return [
            value[start : start + size]
            for start in range(0, len(value), size)
            if len(value[start : start + size]) >= 4
        ]

    def text(line: bytes) -> bytes:
        return bytes(b if 0x20 <= b < 0x7F else 0x2E for b in line)

    plain = [line.hex().encode() for line in lines(30)]
    xxd = [line.hex(" ", -2).encode().ljust(39) + b"  " + text(line) for line in lines(16)]
    hexdump_hex = [
        b"  ".join(half.hex(" ").encode() for half in (line[:8], line[8:]) if half)
        for line in lines(16)
    ]
    hexdump_text = [
        b"  |" + text(line) + b"|" for line in lines(16) if sum(b != 0x2E for b in text(line)) >= 8
    ]
    return plain + xxd + hexdump_hex + hexdump_text


def standard_forms(value: bytes) -> list[tuple[str, bytes]]:
    """(label suffix, pattern) of one value, in order; an encoded form is
    skipped only when equal to it."""
    encoded = [
        ("_B64", base64.b64encode(value)),
        ("_B64URL", base64.urlsafe_b64encode(value)),
        ("_URL", percent_encode(value)),
        ("_HEX", value.hex().encode()),
        ("_HEX", value.hex().upper().encode()),
    ]
    return [("", value)] + [(suffix, form) for suffix, form in encoded if form != value]


def all_patterns(secrets: list[tuple[str, bytes]]) -> list[tuple[bytes, bytes]]:
    """(pattern, label) of every secret: the standard forms of each value first,
    then the encoders' forms and dump pieces of the long ones that repeat no pattern of
    theirs."""
    standard, encoder = [], []
    for name, value in secrets:
        own = standard_forms(value)
        standard += [(form, f"[REDACTED_{name}{suffix}]".encode()) for suffix, form in own]
        if len(value) < MIN_ENCODER_FORM_BYTES:
            continue
        seen = {form for _, form in own}
        pieces = [("_HEX", piece) for piece in dump_pieces(value)]
        for suffix, form in encoder_forms(value) + pieces:
            if form not in seen:
                seen.add(form)
                encoder.append((form, f"[REDACTED_{name}{suffix}]".encode()))
    return standard + encoder


def reference_redact(reference, text: bytes, pattern_labels: list[bytes]) -> str:
    """What the redactor does, with the reference finding the matches."""
    view = memoryview(text)
    pieces, offset = [], 0
    for pattern, start, end in reference.find_matches_as_indexes(text):
        pieces.append(view[offset:start])
        pieces.append(pattern_labels[pattern])
        offset = end
    pieces.append(view[offset:])
    return b"".join(pieces).decode("utf-8", "replace")


def make_secrets(rng: random.Random, count: int) -> list[tuple[str, bytes]]:
    return [
        (f"KEY_{i}", "".join(rng.choice(TOKEN_ALPHABET) for _ in range(32)).encode())
        for i in range(count)
    ]


def log_line(rng: random.Random) -> str:
    words = " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 9)))
    return (
        f"2026-12-10T{rng.randrange(24):02}:{rng.randrange(60):02}:{rng.randrange(60):02}."
        f"{rng.randrange(1000):03}Z {rng.choice(LEVELS)} [{rng.choice(WORDS)}-{rng.randrange(16)}] "
        f"{words} request_id={rng.getrandbits(64):016x} duration_ms={rng.randrange(5000)} "
        f"path=/api/v{rng.randint(1, 3)}/{rng.choice(WORDS)}/{rng.randrange(100000)}\n"
    )


def lines_up_to(size: int, make_line) -> list[bytes]:
    """Lines from make_line() until they hold at least `size` bytes."""
    lines, total = [], 0
    while total < size:
        line = make_line()
        lines.append(line)
        total += len(line)
    return lines


def plant(rng: random.Random, lines: list[bytes], patterns: list[bytes], place) -> bytes:
    """The lines joined, OCCURRENCES of them given a pattern by place(line, pattern)."""
    for index in rng.sample(range(len(lines)), OCCURRENCES):
        lines[index] = place(lines[index], rng.choice(patterns))
    return b"".join(lines)


def log_text(rng: random.Random, patterns: list[bytes]) -> bytes:
    lines = lines_up_to(TEXT_BYTES, lambda: log_line(rng).encode())
    return plant(
        rng, lines, patterns, lambda line, pattern: line[:-1] + b" credential=" + pattern + b"\n"
    )


def base64_text(rng: random.Random, patterns: list[bytes]) -> bytes:
    lines = lines_up_to(
        TEXT_BYTES,
        lambda: rng.randbytes(LINE_BYTES - 1).translate(rng.choice(BASE64_DIGITS)) + b"\n",
    )

    def overwrite(line: bytes, pattern: bytes) -> bytes:
        at = rng.randrange(len(line) - len(pattern))
        return line[:at] + pattern + line[at + len(pattern) :]

    return plant(rng, lines, patterns, overwrite)


def dense_text(rng: random.Random, patterns: list[bytes]) -> bytes:
    def line() -> bytes:
        return (
            (
                f"{rng.randrange(24):02}:{rng.randrange(60):02}:{rng.randrange(60):02} "
                f"{rng.choice(LEVELS)} "
                f"{rng.choice(WORDS)} {rng.choice(WORDS)} token="
            ).encode()
            + rng.choice(patterns)
            + b"\n"
        )

    return b"".join(lines_up_to(DENSE_TEXT_BYTES, line))


TEXTS = [("log-like", log_text), ("base64 lines", base64_text), ("dense matches", dense_text)]


@dataclass
class Case:
    secret_count: int
    patterns: list[bytes]
    pattern_labels: list[bytes]
    texts: list[tuple[str, bytes]]
    # The program's inputs: secrets, patterns, then each text.
    files: list[Path]


def make_case(workdir: Path, secret_count: int, text_makers) -> Case:
    rng = random.Random(SEED + secret_count)
    secrets = make_secrets(rng, secret_count)
    patterns, pattern_labels = map(list, zip(*all_patterns(secrets)))
    texts = [(name, make_text(rng, patterns)) for name, make_text in text_makers]
    contents = [
        b"".join(name.encode() + b"\t" + value + b"\n" for name, value in secrets),
        b"".join(pattern + b"\n" for pattern in patterns),
        *(text for _, text in texts),
    ]
    files = [workdir / f"{secret_count}_{index}" for index in range(len(contents))]
    for path, content in zip(files, contents):
        path.write_bytes(content)
    return Case(secret_count, patterns, pattern_labels, texts, files)


def timed(action, *args, **kwargs) -> tuple[float, object]:
    start = time.perf_counter()
    result = action(*args, **kwargs)
    return time.perf_counter() - start, result


# Run in a fresh interpreter, so that nothing else this script holds moves the figure.
REFERENCE_MEMORY_PROBE = """
import os, sys, ahocorasick_rs
def resident():
    return int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
patterns = open(sys.argv[1], "rb").read().split(b"\\n")[:-1]
before = resident()
kept = ahocorasick_rs.BytesAhoCorasick(patterns, matchkind=ahocorasick_rs.MatchKind.LeftmostFirst)
print((resident() - before) / 2**20)
"""


def reference_memory_mib(patterns_file: Path) -> float:
    """Growth of resident memory (Linux) while the reference builds its automaton."""
    probe = subprocess.run(
        [sys.executable, "-c", REFERENCE_MEMORY_PROBE, str(patterns_file)],
        check=True,
        capture_output=True,
        text=True,
    )
    return float(probe.stdout)


def checksum(matches) -> tuple[int, int]:
    total = 0
    for pattern, start, end in matches:
        total = (total * 1_000_003 + pattern * 7919 + start * 31 + end) % (1 << 64)
    return len(matches), total


# Per text: (match count, match checksum, redacted size in bytes).
Outcome = tuple[int, int, int]


def ours_turn(binary: Path, case: Case) -> dict[str, str]:
    """One run of the program, each step once: its key=value figures."""
    secrets_file, patterns_file, *text_files = case.files
    output = subprocess.run(
        [str(binary), str(secrets_file), str(patterns_file), "1", *map(str, text_files)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    return dict(line.split("=", 1) for line in output.split())


def ours_times(figures: dict[str, str], text_count: int) -> dict[str, float]:
    """The program's times under the keys that reference_turn uses."""
    times = {
        "build": float(figures["matcher_build_s"]),
        "redactor build": float(figures["redactor_build_s"]),
    }
    for index in range(text_count):
        times[f"scan.{index}"] = float(figures[f"matcher_scan_s.{index}"])
        times[f"redact.{index}"] = float(figures[f"redact_s.{index}"])
    return times


def ours_outcomes(figures: dict[str, str], text_count: int) -> list[Outcome]:
    return [
        (
            int(figures[f"matches.{index}"]),
            int(figures[f"checksum.{index}"]),
            int(figures[f"redacted_bytes.{index}"]),
        )
        for index in range(text_count)
    ]


def reference_turn(case: Case) -> tuple[dict[str, float], list[Outcome]]:
    """The reference builds its automaton, then scans and redacts each text once."""
    times, outcomes = {}, []
    times["build"], reference = timed(
        ahocorasick_rs.BytesAhoCorasick,
        case.patterns,
        matchkind=ahocorasick_rs.MatchKind.LeftmostFirst,
    )
    for index, (_, text) in enumerate(case.texts):
        times[f"scan.{index}"], matches = timed(reference.find_matches_as_indexes, text)
        times[f"redact.{index}"], redacted = timed(
            reference_redact, reference, text, case.pattern_labels
        )
        outcomes.append((*checksum(matches), len(redacted.encode())))
    return times, outcomes


def medians(turns: list[dict[str, float]]) -> dict[str, float]:
    return {key: statistics.median(turn[key] for turn in turns) for key in turns[0]}


@dataclass
class Measured:
    case: Case
    ours: dict[str, float]  # median seconds by step
    reference: dict[str, float]
    # From the last turns.
    ours_figures: dict[str, str]
    reference_outcomes: list[Outcome]

    def build_micros_per_pattern(self) -> tuple[float, float]:
        """The matcher build's median µs per pattern: ours, reference."""
        return tuple(
            times["build"] * 1e6 / len(self.case.patterns) for times in (self.ours, self.reference)
        )


def measure(binary: Path, case: Case, repeats: int) -> Measured:
    # Ours (one run of the program) and the reference take turns, so that
    # whatever else the machine does falls on both alike; medians are compared.
    text_count = len(case.texts)
    ours_runs, reference_runs = [], []
    for _ in range(repeats):
        ours_runs.append(ours_turn(binary, case))
        reference_runs.append(reference_turn(case))
    return Measured(
        case,
        medians([ours_times(figures, text_count) for figures in ours_runs]),
        medians([times for times, _ in reference_runs]),
        ours_runs[-1],
        reference_runs[-1][1],
    )


def report_texts(measured: Measured) -> None:
    case = measured.case
    print(f"{case.secret_count} secrets, {len(case.patterns)} patterns")
    ours_outcome = ours_outcomes(measured.ours_figures, len(case.texts))
    for index, (name, text) in enumerate(case.texts):
        agree = ours_outcome[index] == measured.reference_outcomes[index]
        print(
            f"  {name}, {len(text) / 2**20:.0f} MiB, "
            f"{measured.reference_outcomes[index][0]} matches, "
            f"same matches and output size as reference: {'yes' if agree else 'NO'}"
        )
        for label, step in (("matcher scan", "scan"), ("redact (scan, rebuild, decode)", "redact")):
            ours_time, reference_time = (
                measured.ours[f"{step}.{index}"],
                measured.reference[f"{step}.{index}"],
            )
            print(
                f"    {label:31} ours {ours_time * 1e3:8.2f} ms "
                f"{len(text) / ours_time / 1e6:6.0f} MB/s"
                f"   reference {reference_time * 1e3:8.2f} ms "
                f"{len(text) / reference_time / 1e6:6.0f} MB/s"
                f"   ratio {ours_time / reference_time:5.2f}"
            )


def report_builds(all_measured: list[Measured], flatness_cases: list[Measured]) -> list[str]:
    """Prints the build figures; returns the goal lines of the build's growth and of
    the redactor build at 10,000 secrets."""
    goals = []
    print(
        "matcher build (µs per pattern), our redactor build with the patterns' encoding (ms),\n"
        "matcher memory (MiB): the growth of resident memory while it is built"
    )
    print(
        f"  {'secrets':>7} {'patterns':>8}   {'ours µs':>8} {'ref µs':>8} {'ratio':>6}   "
        f"{'redactor ms':>11}   {'ours MiB':>8} {'ref MiB':>8} {'our tables MiB':>14}"
    )
    for measured in sorted(all_measured, key=lambda measured: len(measured.case.patterns)):
        case, figures = measured.case, measured.ours_figures
        ours, reference = measured.build_micros_per_pattern()
        reference_memory = reference_memory_mib(case.files[1])
        print(
            f"  {case.secret_count:7} {len(case.patterns):8}   "
            f"{ours:8.2f} {reference:8.2f} {ours / reference:6.2f}   "
            f"{measured.ours['redactor build'] * 1e3:11.2f}   "
            f"{int(figures['resident_growth_bytes']) / 2**20:8.1f} {reference_memory:8.1f} "
            f"{int(figures['memory_bytes']) / 2**20:14.1f}"
        )
    if len(flatness_cases) > 1:
        fewest, most = flatness_cases[0], flatness_cases[-1]
        ours, reference = (
            at_most / at_fewest
            for at_most, at_fewest in zip(
                most.build_micros_per_pattern(), fewest.build_micros_per_pattern()
            )
        )
        print(
            f"  µs per pattern at {len(most.case.patterns):,} patterns "
            f"/ at {len(fewest.case.patterns):,} "
            f"(1.00 is flat): ours {ours:.2f}, reference {reference:.2f}"
        )
        goals.append(goal_line(ours, FLATNESS_GOAL, "matcher build per pattern, its growth"))
    for measured in all_measured:
        if measured.case.secret_count == 10_000:
            goals.append(
                time_goal_line(
                    measured.ours["redactor build"], BUILD_GOALS_SECONDS[10_000], "redactor build"
                )
            )
    return goals


def redactor_build_only(binary: Path, workdir: Path, secret_count: int, repeats: int) -> str:
    """The median of our redactor builds for `secret_count` secrets, whose patterns are
    too many to give the reference in reasonable time: its goal line."""
    case = make_case(workdir, secret_count, [])
    secrets_file, patterns_file = case.files
    output = subprocess.run(
        [str(binary), str(secrets_file), str(patterns_file), str(repeats)],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    seconds = float(dict(line.split("=", 1) for line in output.split())["redactor_build_s"])
    print(
        f"{secret_count:,} secrets, {len(case.patterns):,} patterns: redactor build "
        f"{seconds * 1e3:.0f} ms"
    )
    return time_goal_line(seconds, BUILD_GOALS_SECONDS[secret_count], "redactor build")


def main() -> int:
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument("--binary", type=Path, default=Path("build/bench/bench_redact"))
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument(
        "--secrets",
        type=int,
        nargs="+",
        default=[10, 10_000],
        help="secret counts whose patterns are searched for in every text",
    )
    parser.add_argument(
        "--build-secrets",
        type=int,
        nargs="+",
        default=[65, 645, 6_452],
        help="secret counts whose matcher is only built, fewest first",
    )
    args = parser.parse_args()
    binary = args.binary.resolve()
    with tempfile.TemporaryDirectory() as workdir:
        scanned = []
        for secret_count in args.secrets:
            scanned.append(
                measure(binary, make_case(Path(workdir), secret_count, TEXTS), args.repeats)
            )
            report_texts(scanned[-1])
        built = [
            measure(binary, make_case(Path(workdir), secret_count, []), args.repeats)
            for secret_count in args.build_secrets
        ]
        goals = report_builds(scanned + built, built)
        goals.append(redactor_build_only(binary, Path(workdir), 100_000, args.repeats))
    for line in goals:
        print(line)
    return 0 if all(line.endswith(": met") for line in goals) else 1


if __name__ == "__main__":
    sys.exit(main())
