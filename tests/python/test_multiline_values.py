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


def chunks(value: bytes, size: int) -> list[bytes]:
    return [value[start : start + size] for start in range(0, len(value), size)]


def plain_hex(value: bytes) -> list[str]:
    return [chunk.hex() for chunk in chunks(value, 30)]


def text_column(chunk: bytes) -> str:
    return "".join(chr(byte) if 0x20 <= byte < 0x7F else "." for byte in chunk)


def xxd_columns(value: bytes) -> list[str]:
    hex_columns = [" ".join(pair.hex() for pair in chunks(chunk, 2)) for chunk in chunks(value, 16)]
    return hex_columns + [text_column(chunk) for chunk in chunks(value, 16)]


def hexdump_columns(value: bytes) -> list[str]:
    hex_columns = [
        "  ".join(" ".join(f"{byte:02x}" for byte in half) for half in chunks(chunk, 8))
        for chunk in chunks(value, 16)
    ]
    return hex_columns + [text_column(chunk) for chunk in chunks(value, 16)]


def dependent_characters(piece: str) -> int:
    return sum(character not in " ." for character in piece)


# What each command prints of a file "$1", and the pieces of that which
# depend on the value; those with fewer than 8 characters that do (a last
# line of 3 bytes, "==") could be anyone's and are not redacted.
COMMANDS: dict[str, tuple[str, Callable[[bytes], list[str]]]] = {
    "head -n -1": ('head -n -1 "$1"', value_lines),
    "grep -v PRIVATE": ('grep -v PRIVATE "$1"', value_lines),
    "sed prefix": ("sed 's/^/[app] /' \"$1\"", value_lines),
    'printf %s "$(cat F)"': ('printf %s "$(cat "$1")"', value_lines),
    "CRLF endings": ("sed 's/$/\\r/' \"$1\"", value_lines),
    "LF endings": ("sed 's/\\r$//' \"$1\"", value_lines),
    "base64": ('base64 "$1"', lambda value: wrapped_base64(value, 76)),
    "openssl base64": ('openssl base64 -in "$1"', lambda value: wrapped_base64(value, 64)),
    "xxd -p": ('xxd -p "$1"', plain_hex),
    "xxd": ('xxd "$1"', xxd_columns),
    "hexdump -C": ('hexdump -C "$1"', hexdump_columns),
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
    pieces = [piece for piece in printed_pieces(value) if dependent_characters(piece) >= 8]
    # The same command outside the vault shows them: the check has something
    # to find.
    stored = tmp_path / "value"
    stored.write_bytes(value)
    plain = subprocess.run(["sh", "-c", script, "sh", str(stored)], capture_output=True, check=True)
    shown = [shown for piece in pieces for shown in visible_pieces(piece, plain.stdout.decode())]
    assert shown

    result = value_vault.run_with(["sh", "-c", script, "sh", "{{file:K}}"])
    assert result.exit_code == 0, result.stderr
    assert [piece for piece in shown if piece in result.stdout] == []
