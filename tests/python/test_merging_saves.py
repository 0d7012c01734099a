"""Writers of one vault file, in one process or several, lose none of each
other's changes: a save that finds the file changed merges its own change into
what the file holds now."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import KEY_ENV, read_entries, unprivileged
from quillbox import Vault

CLI_PASSPHRASE = "a passphrase for the writers"
ROUNDS = 30
SETS_PER_WRITER = 10

# Saves `count` values one after the other with `quillbox set`, each in a
# process of its own, and reports each on a line: key, exit status, stderr.
SERIAL_WRITER = """
import json, subprocess, sys

name, vault, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
for number in range(count):
    key = f"{name}_{number}"
    done = subprocess.run(
        [sys.executable, "-m", "quillbox", "set", key, "--vault", vault],
        input=f"value-{number}", capture_output=True, text=True,
    )
    print(json.dumps([key, done.returncode, done.stderr]), flush=True)
"""


def test_two_handles_in_one_process_merge_their_saves(make_vault):
    path = make_vault([("X", b"x")])
    with Vault(KEY_ENV, str(path)) as first, Vault(KEY_ENV, str(path)) as second:
        first.set("A", "1")
        second.set("B", "2")
        assert read_entries(path) == [("X", b"x"), ("A", b"1"), ("B", b"2")]
        # The second's runs redact what its save took in from the first.
        assert second.run("echo 1 2").stdout == "[REDACTED_A] [REDACTED_B]\n"
        first.delete("X")
        assert read_entries(path) == [("A", b"1"), ("B", b"2")]
        # X, deleted by the first, does not come back; A ends with the later value.
        second.set("A", "3")
        assert read_entries(path) == [("A", b"3"), ("B", b"2")]
        assert first.list_keys() == second.list_keys() == ["A", "B"]
        assert second.run("echo 3 1").stdout == "[REDACTED_A] 1\n"


def test_concurrent_command_line_writers_lose_nothing(tmp_path: Path):
    environment = {**os.environ, "QUILLBOX_KEY": CLI_PASSPHRASE}
    vault = tmp_path / "vault.bin"

    def quillbox(*arguments: str) -> subprocess.Popen:
        return subprocess.Popen(
            [sys.executable, "-m", "quillbox", *arguments, "--vault", str(vault)],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            env=environment,
        )

    def finish(process: subprocess.Popen) -> None:
        if not process.stdin.closed:
            process.stdin.close()
        errors = process.stderr.read()
        assert process.wait(timeout=120) == 0, errors

    # Costs that take some milliseconds, so that the writers overlap.
    finish(quillbox("init", "--m-cost", "16384", "--t-cost", "2"))
    for round_number in range(ROUNDS):
        writers = [quillbox("set", f"{name}{round_number}") for name in ("A", "B")]
        for writer in writers:
            writer.stdin.write(f"value-{round_number}")
            writer.stdin.close()
        for writer in writers:
            finish(writer)

    listed = quillbox("list")
    names, errors = listed.communicate(timeout=120)
    assert listed.returncode == 0, errors
    assert sorted(names.split()) == sorted(f"{n}{r}" for r in range(ROUNDS) for n in ("A", "B"))


def pid_namespace_prefix() -> list[str]:
    """The command prefix that runs a process as the first of a new PID
    namespace, as a container sharing the vault's folder would."""
    unshare = shutil.which("unshare")
    if unshare is None:
        pytest.skip("unshare (util-linux) is needed to make PID namespaces")
    prefix = [unshare, "--pid", "--fork"]
    probe = subprocess.run([*prefix, "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        pytest.skip(f"no new PID namespace can be made here: {probe.stderr.strip()}")
    return prefix


def test_writers_in_separate_pid_namespaces_lose_nothing(tmp_path: Path):
    """Writers of one vault in the host and in two PID namespaces, where the
    same process IDs recur and none can see the others' processes, wait for
    each other's locks and keep each other's temporary files: every save goes
    through, none is lost, and no lock is taken for stale."""
    environment = {**os.environ, "QUILLBOX_KEY": CLI_PASSPHRASE}
    vault = tmp_path / "vault.bin"
    init = [sys.executable, "-m", "quillbox", "init", "--vault", str(vault)]
    created = subprocess.run(
        [*init, "--m-cost", "8", "--t-cost", "1"], capture_output=True, text=True, env=environment
    )
    assert created.returncode == 0, created.stderr

    def start(name: str, prefix: list[str]) -> subprocess.Popen:
        command = [sys.executable, "-c", SERIAL_WRITER, name, str(vault), str(SETS_PER_WRITER)]
        return subprocess.Popen(
            [*prefix, *unprivileged(), *command],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            env=environment,
        )

    namespace = pid_namespace_prefix()
    places = {"host": [], "first_namespace": namespace, "second_namespace": namespace}
    writers = {name: start(name, prefix) for name, prefix in places.items()}
    reports = []
    for name, writer in writers.items():
        out, errors = writer.communicate(timeout=300)
        assert writer.returncode == 0, f"{name}: {errors}"
        reports += [json.loads(line) for line in out.splitlines()]
    assert len(reports) == SETS_PER_WRITER * len(places)

    stale = [stderr for _, _, stderr in reports if "stale" in stderr]
    assert stale == [], "a held lock was taken for a stale one"
    failed = {key: stderr for key, status, stderr in reports if status != 0}
    assert failed == {}, "saves failed"
    held = {name: value.decode() for name, value in read_entries(vault, CLI_PASSPHRASE)}
    lost = [key for key, _, _ in reports if held.get(key) != f"value-{key.rsplit('_', 1)[1]}"]
    assert lost == [], "saves that said they stored their value lost it"
