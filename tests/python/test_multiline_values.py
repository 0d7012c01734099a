"""A real OpenSSH private key and a PEM certificate, stored with and without
their final newline and with CRLF endings, printed by shell tools line by
line, as wrapped Base64 and as hex dumps, come back with no piece of 6
characters that depends on the value in sight."""

from __future__ import annotations

import base64
import subprocess
from collections.abc import Callable, Iterator
from pathlib import Path

import pytest
from conftest import KEY_ENV
from quillbox import Vault
from real_encoders import visible_pieces


def value_lines(value: bytes) -> list[str]:
    return value.decode().replace("\r\n", "\n").split("\n")


def wrapped_base64(value: bytes, columns: int) -> list[str]:
    encoded = base64.b64encode(value).decode()
    return [encoded[start : start + columns] for start in range(0, len(encoded), columns)]


def plain_hex(value: bytes) -> list[str]:
    return [value[start : start + 30].hex() for start in range(0, len(value), 30)]


def xxd_lines(printed: str) -> list[str]:
    """The lines of `xxd` output without their offsets, those of 4 bytes or more."""
    return [line[10:] for line in printed.splitlines() if len(line[51:]) >= 4]


def hexdump_columns(printed: str) -> list[str]:
    """The hex column of each line of `hexdump -C` output, and its text column."""
    lines = [line for line in printed.splitlines() if "|" in line]
    return [line[10:58].rstrip() for line in lines] + [line[61:-1] for line in lines]


def od_characters(printed: str) -> list[str]:
    """The characters of each line of `od -c` output, without its offset."""
    return [line[7:] for line in printed.splitlines() if len(line) > 7]


def dependent_characters(piece: str) -> int:
    return sum(character not in " ." for character in piece)


# What each command prints of a file "$1", and the pieces of that which depend
# on the value, from the value and what the command prints outside the vault;
# those with fewer than 8 characters that do (a last line of 3 bytes, "==")
# could be anyone's and are not redacted.
COMMANDS: dict[str, tuple[str, Callable[[bytes, str], list[str]]]] = {
    "head -n -1": ('head -n -1 "$1"', lambda value, _: value_lines(value)),
    "grep -v PRIVATE": ('grep -v PRIVATE "$1"', lambda value, _: value_lines(value)),
    "sed prefix": ("sed 's/^/[app] /' \"$1\"", lambda value, _: value_lines(value)),
    'printf %s "$(cat F)"': ('printf %s "$(cat "$1")"', lambda value, _: value_lines(value)),
    "CRLF endings": ("sed 's/$/\\r/' \"$1\"", lambda value, _: value_lines(value)),
    "LF endings": ("sed 's/\\r$//' \"$1\"", lambda value, _: value_lines(value)),
    "base64": ('base64 "$1"', lambda value, _: wrapped_base64(value, 76)),
    "openssl base64": ('openssl base64 -in "$1"', lambda value, _: wrapped_base64(value, 64)),
    "xxd -p": ('xxd -p "$1"', lambda value, _: plain_hex(value)),
    "xxd": ('xxd "$1"', lambda _, printed: xxd_lines(printed)),
    "hexdump -C": ('hexdump -C "$1"', lambda _, printed: hexdump_columns(printed)),
    "od -c": ('od -c "$1"', lambda _, printed: od_characters(printed)),
}


@pytest.fixture(scope="module")
def files(tmp_path_factory) -> dict[str, bytes]:
    folder = tmp_path_factory.mktemp("multiline")
    key = folder / "id_ed25519"
    subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(key)], check=True)
    certificate = subprocess.run(
        [
            *("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256"),
            *("-nodes", "-keyout", "/dev/null", "-subj", "/CN=quillbox.test", "-days", "1"),
        ],
        check=True,
        capture_output=True,
    ).stdout
    return {"key": key.read_bytes(), "certificate": certificate}


VALUES = {
    "key": lambda files: files["key"],
    "key without its final newline": lambda files: files["key"].rstrip(b"\n"),
    "key with CRLF endings": lambda files: files["key"].replace(b"\n", b"\r\n"),
    "certificate": lambda files: files["certificate"],
    "certificate without its final newline": lambda files: files["certificate"].rstrip(b"\n"),
}


@pytest.fixture(params=VALUES)
def value(request, files) -> bytes:
    return VALUES[request.param](files)


@pytest.fixture
def value_vault(make_vault, value) -> Iterator[Vault]:
    with Vault(KEY_ENV, str(make_vault([("K", value)]))) as vault:
        yield vault


@pytest.mark.parametrize("command", COMMANDS)
def test_no_piece_of_the_value_stays_in_sight(value_vault, value, command, tmp_path: Path):
    script, printed_pieces = COMMANDS[command]
    stored = tmp_path / "value"
    stored.write_bytes(value)
    plain = subprocess.run(["sh", "-c", script, "sh", str(stored)], capture_output=True, check=True)
    printed = plain.stdout.decode()
    pieces = [piece for piece in printed_pieces(value, printed) if dependent_characters(piece) >= 8]
    # The same command outside the vault shows them: the check has something
    # to find.
    shown = [shown for piece in pieces for shown in visible_pieces(piece, printed)]
    assert shown

    result = value_vault.run_with(["sh", "-c", script, "sh", "{{file:K}}"])
    assert result.exit_code == 0, result.stderr
    assert [piece for piece in shown if piece in result.stdout] == []
