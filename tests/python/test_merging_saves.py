"""Writers of one vault file, in one process or several, lose none of each
other's changes: a save that finds the file changed merges its own change into
what the file holds now."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

from conftest import KEY_ENV, read_entries
from quillbox import Vault

CLI_PASSPHRASE = "a passphrase for the writers"
ROUNDS = 30


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
