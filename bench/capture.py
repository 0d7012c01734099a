"""Capture of about 50 MiB of output: the executor and Vault.run against
subprocess.run, side by side.

Writes a 50 MiB text file that holds a planted secret every 997 lines, then takes
rounds: every variant below runs once per round, so that whatever else the machine
does falls on all alike, every run's output is checked, and medians are compared.

The executor: `cat FILE` with subprocess.run(..., capture_output=True), timed here,
against the executor, timed inside bench_run_overhead, with 100 secrets in its
redactor (the planted one among them, so its output must have it replaced by its
label) and without secrets, which is the capture alone, without the redactor's scan.
The goal is a ratio of at most 1.2.

Vault.run, timed here from the call until `.stdout` is read: `head -c 48MiB FILE`
(Vault.run's default output limit is 50 MiB) through a vault of four entries, the
planted secret among them, against subprocess.run(..., capture_output=True,
text=True).stdout.

Peak memory: the same two calls, each in a fresh interpreter: the peak resident
memory once `.stdout` has been read (VmHWM, the peak reset just before the call) less
the resident memory just before the call, over the size of the output.

    python3 bench/capture.py [path/to/bench_run_overhead] [--repeat K]
"""

import os
import random
import re
import shlex
import statistics
import subprocess
import sys
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
import reference_vault
from quillbox import Vault

SIZE = 50 * 1024 * 1024
HEAD_SIZE = 48 * 1024 * 1024
PLANTED = "qb-bench-planted-secret-value"
LABEL = "[REDACTED_PLANTED]"
KEY_ENV = "QUILLBOX_BENCH_KEY"
PASSPHRASE = "benchmark passphrase"
TOKEN_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"


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


def redacted_sizes(path: str) -> tuple[int, int]:
    """The sizes of the file and of its first HEAD_SIZE bytes, each planted
    secret replaced by its label."""
    with open(path, "rb") as text:
        content = text.read()
    return tuple(
        len(part) - part.count(PLANTED.encode()) * (len(PLANTED) - len(LABEL))
        for part in (content, content[:HEAD_SIZE])
    )


def write_vault(directory: str) -> str:
    """A vault of the planted secret and three random ones."""
    rng = random.Random(11)
    path = os.path.join(directory, "vault.bin")
    entries = [("PLANTED", PLANTED.encode())] + [
        (f"KEY_{i}", "".join(rng.choices(TOKEN_ALPHABET, k=32)).encode()) for i in range(3)
    ]
    with open(path, "wb") as out:
        out.write(reference_vault.encode(entries, PASSPHRASE.encode()))
    os.chmod(path, 0o600)
    return path


def time_subprocess(command: list[str], expected_size: int, text: bool) -> float:
    start = time.perf_counter()
    stdout = subprocess.run(command, capture_output=True, text=text).stdout
    elapsed = time.perf_counter() - start
    assert len(stdout) == expected_size, (
        f"subprocess.run returned {len(stdout)} bytes, not {expected_size}"
    )
    return elapsed


def time_executor(binary: str, path: str, secrets: int, expected_size: int) -> float:
    report = subprocess.run(
        [
            binary,
            "--capture",
            path,
            "--planted",
            PLANTED,
            "--repeat",
            "1",
            "--secrets",
            str(secrets),
        ],
        capture_output=True,
        text=True,
        check=True,
    ).stdout
    captured = int(re.search(r"stdout_chars=([0-9]+)", report).group(1))
    assert captured == expected_size, f"the executor returned {captured} bytes, not {expected_size}"
    return float(re.search(r"median=([0-9.]+)", report).group(1))


def time_vault_run(vault: Vault, command: list[str], expected_size: int) -> float:
    start = time.perf_counter()
    stdout = vault.run(shlex.join(command)).stdout
    elapsed = time.perf_counter() - start
    assert len(stdout) == expected_size, (
        f"Vault.run returned {len(stdout)} characters, not {expected_size}"
    )
    return elapsed


# Run in a fresh interpreter, with the key's variable, the vault and the command as
# arguments, so that nothing else this script holds moves the figure. The peak is the
# process's own (VmHWM), started afresh just before the call: ru_maxrss would also hold
# the peak of the process that started this one, which exec hands down.
MEMORY_PROBE = """
import os, re, shlex, sys
def status_bytes(field):
    status = open("/proc/self/status").read()
    return int(re.search(field + r":\\s+([0-9]+) kB", status).group(1)) * 1024
key_env, vault_path, command = sys.argv[1:]
{setup}
open("/proc/self/clear_refs", "w").write("5")
before = status_bytes("VmRSS")
stdout = {capture}
print(status_bytes("VmHWM") - before, len(stdout))
"""
CAPTURES = {
    "Vault.run": (
        "from quillbox import Vault; vault = Vault(key_env, vault_path)",
        "vault.run(command).stdout",
    ),
    "subprocess.run": (
        "import subprocess",
        "subprocess.run(shlex.split(command), capture_output=True, text=True).stdout",
    ),
}


def peak_growth_per_output_byte(
    capture: str, vault_path: str, command: list[str], expected_size: int
) -> float:
    """Peak resident growth of a fresh interpreter that reads `.stdout`, over the output's size."""
    setup, call = CAPTURES[capture]
    probe = subprocess.run(
        [
            sys.executable,
            "-c",
            MEMORY_PROBE.format(setup=setup, capture=call),
            KEY_ENV,
            vault_path,
            shlex.join(command),
        ],
        check=True,
        capture_output=True,
        text=True,
    ).stdout
    growth, size = map(int, probe.split())
    assert size == expected_size, f"{capture} returned {size} characters, not {expected_size}"
    return growth / size


def median_of_rounds(variants: dict[str, Callable[[], float]], repeat: int) -> dict[str, float]:
    """Each variant (a call returning one figure) once per round; the median of each."""
    figures: dict[str, list[float]] = {name: [] for name in variants}
    for _ in range(repeat):
        for name, variant in variants.items():
            figures[name].append(variant())
    return {name: statistics.median(values) for name, values in figures.items()}


def report_executor(times: dict[str, float], repeat: int) -> None:
    python, redacted, capture_alone = times["reference"], times["redacted"], times["capture alone"]
    print(f"cat of 50 MiB, median of {repeat} rounds, each run's output checked")
    print(f"  subprocess.run(capture_output=True)   {python * 1e3:8.1f} ms")
    print(f"  executor, 100 secrets, redacted       {redacted * 1e3:8.1f} ms")
    print(
        f"  executor, no secrets                  {capture_alone * 1e3:8.1f} ms"
        f"  (ratio {capture_alone / python:.2f})"
    )
    print(f"ratio={redacted / python:.2f} goal<=1.20")


def report_vault_run(times: dict[str, float], memory: dict[str, float], repeat: int) -> None:
    python, ours = times["subprocess.run, text"], times["Vault.run"]
    print(f"head -c 48 MiB, reading .stdout, median of {repeat} rounds, each run's output checked")
    print(f"  subprocess.run(capture_output=True, text=True)   {python * 1e3:8.1f} ms")
    print(
        f"  Vault.run, 4 entries, redacted                   {ours * 1e3:8.1f} ms"
        f"  (ratio {ours / python:.2f})"
    )
    print(
        "peak memory after reading .stdout, fresh interpreter each: resident growth / output size"
    )
    print(f"  subprocess.run   {memory['subprocess.run']:5.2f}")
    print(
        f"  Vault.run        {memory['Vault.run']:5.2f}  (ratio to subprocess.run "
        f"{memory['Vault.run'] / memory['subprocess.run']:.2f})"
    )


def main() -> None:
    args = sys.argv[1:]
    repeat = 7
    if "--repeat" in args:
        at = args.index("--repeat")
        repeat = int(args[at + 1])
        del args[at : at + 2]
    binary = args[0] if args else "build/bench/bench_run_overhead"
    os.environ[KEY_ENV] = PASSPHRASE
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "output.txt")
        write_text(path)
        cat_redacted, head_redacted = redacted_sizes(path)
        head = ["head", "-c", str(HEAD_SIZE), path]
        vault_path = write_vault(directory)
        with Vault(KEY_ENV, vault_path) as vault:
            vault.run("true")  # the first run of a vault state builds its redactor
            times = median_of_rounds(
                {
                    "reference": lambda: time_subprocess(["cat", path], SIZE, text=False),
                    "redacted": lambda: time_executor(binary, path, 100, cat_redacted),
                    "capture alone": lambda: time_executor(binary, path, 0, SIZE),
                    "subprocess.run, text": lambda: time_subprocess(head, HEAD_SIZE, text=True),
                    "Vault.run": lambda: time_vault_run(vault, head, head_redacted),
                },
                repeat,
            )
        memory = median_of_rounds(
            {
                "subprocess.run": lambda: peak_growth_per_output_byte(
                    "subprocess.run", vault_path, head, HEAD_SIZE
                ),
                "Vault.run": lambda: peak_growth_per_output_byte(
                    "Vault.run", vault_path, head, head_redacted
                ),
            },
            repeat,
        )
    report_executor(times, repeat)
    report_vault_run(times, memory, repeat)


if __name__ == "__main__":
    main()
