"""Times the redaction matcher against ahocorasick-rs (leftmost-first) on the same input.

Generates secrets shaped like API keys (32 characters of letters, digits, "-" and "_"),
all their patterns (raw, base64, base64url, percent, lower and upper hex, then the forms
real encoders write: Base64 runs at every alignment, percent and JSON variants) and 50 MiB of
log-like text holding about 100 occurrences of them, then runs the C++ benchmark program
on those files and the reference in this process, taking turns, and prints the median of
every time and the ratio ours / reference. Redaction by the reference is its search plus
the same rebuild and lossy decode done in Python. Memory is the growth of resident memory
while each builds its automaton, in a fresh process.

Build the program first:
    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLBOX_BUILD_BENCHMARKS=ON
    cmake --build build/release --target bench_redact -j2
then run:
    python bench/redact.py [--binary build/release/bench_redact]
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
from pathlib import Path

import ahocorasick_rs

SEED = 20261210
TEXT_BYTES = 50 * 1024 * 1024
OCCURRENCES = 100
TOKEN_ALPHABET = string.ascii_letters + string.digits + "-_"
WORDS = (
    "request response user session cache miss hit connect timeout retry upstream worker "
    "queue job completed failed bytes latency ok error warning query select from where id "
    "status token auth refresh client server pool thread shutdown started listening port "
    "config loaded GET POST PUT DELETE handler payload invoice account billing deploy"
).split()
LEVELS = ["INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"]


LETTERS_AND_DIGITS = frozenset((string.ascii_letters + string.digits).encode())
UNRESERVED = LETTERS_AND_DIGITS | frozenset(b"-._~")
MIN_ENCODER_FORM_BYTES = 8


def percent_encode(value: bytes, kept=LETTERS_AND_DIGITS, space_as_plus=False, lower=False) -> bytes:
    escape = b"%%%02x" if lower else b"%%%02X"
    return b"".join(
        b"+" if space_as_plus and b == 0x20 else bytes([b]) if b in kept else escape % b for b in value
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


def standard_forms(value: bytes) -> list[tuple[str, bytes]]:
    """(label suffix, pattern) of one value, in order; an encoded form is skipped only when equal to it."""
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
    then the encoders' forms of the long ones that repeat no pattern of theirs."""
    standard, encoder = [], []
    for name, value in secrets:
        own = standard_forms(value)
        standard += [(form, f"[REDACTED_{name}{suffix}]".encode()) for suffix, form in own]
        if len(value) < MIN_ENCODER_FORM_BYTES:
            continue
        seen = {form for _, form in own}
        for suffix, form in encoder_forms(value):
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


def make_text(rng: random.Random, patterns: list[bytes]) -> bytes:
    lines: list[str] = []
    size = 0
    while size < TEXT_BYTES:
        line = log_line(rng)
        lines.append(line)
        size += len(line)
    chunks = [line.encode() for line in lines]
    for index in rng.sample(range(len(chunks)), OCCURRENCES):
        chunks[index] = chunks[index][:-1] + b" credential=" + rng.choice(patterns) + b"\n"
    return b"".join(chunks)


def timed(action) -> tuple[float, object]:
    start = time.perf_counter()
    result = action()
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
    probe = subprocess.run([sys.executable, "-c", REFERENCE_MEMORY_PROBE, str(patterns_file)],
                           check=True, capture_output=True, text=True)
    return float(probe.stdout)


def checksum(matches) -> tuple[int, int]:
    total = 0
    for pattern, start, end in matches:
        total = (total * 1_000_003 + pattern * 7919 + start * 31 + end) % (1 << 64)
    return len(matches), total


def run_case(binary: Path, workdir: Path, secret_count: int, repeats: int) -> None:
    rng = random.Random(SEED + secret_count)
    secrets = make_secrets(rng, secret_count)
    patterns, pattern_labels = map(list, zip(*all_patterns(secrets)))
    text = make_text(rng, patterns)

    secrets_file = workdir / f"secrets_{secret_count}.tsv"
    patterns_file = workdir / f"patterns_{secret_count}.txt"
    text_file = workdir / f"text_{secret_count}.log"
    secrets_file.write_bytes(b"".join(name.encode() + b"\t" + value + b"\n" for name, value in secrets))
    patterns_file.write_bytes(b"".join(pattern + b"\n" for pattern in patterns))
    text_file.write_bytes(text)

    # Ours (one run of the program) and the reference take turns, so that
    # whatever else the machine does falls on both alike; medians are compared.
    kind = ahocorasick_rs.MatchKind.LeftmostFirst
    ours_runs, reference_runs = [], []
    for _ in range(repeats):
        output = subprocess.run(
            [str(binary), str(secrets_file), str(patterns_file), str(text_file), "1"],
            check=True, capture_output=True, text=True,
        ).stdout
        ours_runs.append(dict(line.split("=", 1) for line in output.split()))
        build, reference = timed(lambda: ahocorasick_rs.BytesAhoCorasick(patterns, matchkind=kind))
        scan, matches = timed(lambda: reference.find_matches_as_indexes(text))
        redact, redacted = timed(lambda: reference_redact(reference, text, pattern_labels))
        reference_runs.append({"build": build, "scan": scan, "redact": redact})
        del reference

    def ours_median(key: str) -> float:
        return statistics.median(float(run[key]) for run in ours_runs)

    def reference_median(key: str) -> float:
        return statistics.median(run[key] for run in reference_runs)

    ours = ours_runs[-1]
    reference_memory = reference_memory_mib(patterns_file)
    count, total = checksum(matches)
    agree = (str(count), str(total), str(len(redacted.encode()))) == (
        ours["matches"], ours["checksum"], ours["redacted_bytes"])

    print(f"{secret_count} secrets, {len(patterns)} patterns, {len(text) / 2**20:.0f} MiB text, "
          f"{count} matches, same matches and output size as reference: {'yes' if agree else 'NO'}")
    rows = [
        ("matcher build", ours_median("matcher_build_s"), reference_median("build")),
        ("matcher scan", ours_median("matcher_scan_s"), reference_median("scan")),
        ("redact (scan, rebuild, decode)", ours_median("redact_s"), reference_median("redact")),
    ]
    for label, ours_time, reference_time in rows:
        print(f"  {label:32} ours {ours_time * 1e3:9.2f} ms   reference {reference_time * 1e3:9.2f} ms"
              f"   ratio {ours_time / reference_time:5.2f}")
    print(f"  {'redactor build with encoding':32} ours {ours_median('redactor_build_s') * 1e3:9.2f} ms"
          "   (the reference is given its patterns)")
    print(f"  automaton memory, growth of resident memory while it is built: "
          f"ours {int(ours['resident_growth_bytes']) / 2**20:.1f} MiB, "
          f"reference {reference_memory:.1f} MiB (ours holds {int(ours['memory_bytes']) / 2**20:.1f} MiB of tables)")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--binary", type=Path, default=Path("build/release/bench_redact"))
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--secrets", type=int, nargs="+", default=[10, 10_000])
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        for secret_count in args.secrets:
            run_case(args.binary.resolve(), Path(workdir), secret_count, args.repeats)


if __name__ == "__main__":
    main()
