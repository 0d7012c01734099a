"""A secret as programs of other languages, HTML escapers and shell quoting
print it (node, jq, bash -x, printf %q, Python's shlex, repr, html and json,
and emulations of Go, PHP, Java and Gson) comes back with no piece of 6
characters of its encoding in sight. Each check is first shown to find the
piece in the program's output when nothing is redacted."""

from __future__ import annotations

import html
import json
import shlex
import shutil
import subprocess
import sys
from typing import Callable, NamedTuple

import other_encoders
import pytest
from other_encoders import UNRESERVED, bash_x_word, percent, printf_q
from real_encoders import visible_pieces

# The characters !*'()@:/#%&<>" in every mix, characters beyond ASCII, a
# space and a control character.
SECRETS = [
    "Db-Pa55w0rd!S3cret#2026",
    "p@ss:w0rd/with#chars%&more",
    "tok<en>&\"quot's-value",
    "!*'()@:/#%&<>\"-naïve-€😀",
    "café pass'word=é+",
    "ctl\tsecret\x01 'q' ü",
]

UTF8_LOCALE = {"LANG": "C.UTF-8"}


def python(code: str) -> list[str]:
    """A Python program that prints `code`'s value for the secret, its first
    argument."""
    return [sys.executable, "-c", f"import html, json, shlex, sys; print({code})", "{{T}}"]


def node(code: str) -> list[str]:
    return [shutil.which("node") or "node", "-e", f"console.log({code})", "{{T}}"]


class Program(NamedTuple):
    argv: list[str]
    # The part of the output that depends on the secret alone.
    secret_part: Callable[[bytes], str]
    env: dict[str, str] | None = None


PROGRAMS = {
    "node encodeURIComponent": Program(
        node("encodeURIComponent(process.argv[1])"),
        lambda secret: percent(secret, UNRESERVED + "!*'()"),
    ),
    "jq @uri": Program(
        [shutil.which("jq") or "jq", "-rn", "--arg", "v", "{{T}}", "$v | @uri"],
        lambda secret: percent(secret, UNRESERVED + "!*'()"),
    ),
    "bash -x": Program(
        ["bash", "-xc", ': "$1"', "sh", "{{T}}"], lambda secret: bash_x_word(secret, utf8=False)
    ),
    "bash -x, UTF-8 locale": Program(
        ["bash", "-xc", ': "$1"', "sh", "{{T}}"],
        lambda secret: bash_x_word(secret, utf8=True),
        UTF8_LOCALE,
    ),
    "printf %q": Program(
        ["bash", "-c", 'printf "%q\\n" "$1"', "sh", "{{T}}"],
        lambda secret: printf_q(secret, utf8=False),
    ),
    "printf %q, UTF-8 locale": Program(
        ["bash", "-c", 'printf "%q\\n" "$1"', "sh", "{{T}}"],
        lambda secret: printf_q(secret, utf8=True),
        UTF8_LOCALE,
    ),
    "shlex.quote": Program(
        python("shlex.quote(sys.argv[1])"),
        lambda secret: shlex.quote(secret.decode()).strip("'"),
    ),
    "repr": Program(python("repr(sys.argv[1])"), lambda secret: repr(secret.decode())[1:-1]),
    "html.escape": Program(
        python("html.escape(sys.argv[1])"), lambda secret: html.escape(secret.decode())
    ),
    "html.escape, quotes kept": Program(
        python("html.escape(sys.argv[1], quote=False)"),
        lambda secret: html.escape(secret.decode(), quote=False),
    ),
    "json.dumps": Program(
        python("json.dumps(sys.argv[1])"), lambda secret: json.dumps(secret.decode())[1:-1]
    ),
    "hex with colons": Program(
        python("sys.argv[1].encode().hex(':')"), lambda secret: secret.hex(":")
    ),
    "HEX WITH COLONS": Program(
        python("sys.argv[1].encode().hex(':').upper()"), lambda secret: secret.hex(":").upper()
    ),
}


@pytest.fixture(params=SECRETS)
def secret(request) -> bytes:
    return request.param.encode()


def unredacted(argv: list[str], secret: bytes, env: dict[str, str] | None) -> str:
    """What the program prints when nothing is redacted: its output and its
    errors (where bash -x traces)."""
    shown = subprocess.run(
        [arg.encode().replace(b"{{T}}", secret) for arg in argv],
        env=env or {},
        capture_output=True,
        check=True,
    )
    return (shown.stdout + shown.stderr).decode()


@pytest.mark.parametrize("name", PROGRAMS)
def test_real_programs(secret_vault, secret, name):
    program = PROGRAMS[name]
    secret_part = program.secret_part(secret)
    plain = unredacted(program.argv, secret, program.env)
    # The emulation describes what the program wrote, and the check finds it.
    assert secret_part in plain
    assert visible_pieces(secret_part, plain)

    result = secret_vault.run_with(program.argv, env=program.env)
    assert result.exit_code == 0, result.stderr
    assert visible_pieces(secret_part, result.stdout + result.stderr) == []


def test_emulated_encoders(secret_vault, secret):
    argv = [sys.executable, other_encoders.__file__, "{{T}}"]
    plain = dict(line.split("\t", 1) for line in unredacted(argv, secret, None).splitlines())
    result = secret_vault.run_with(argv)
    assert result.exit_code == 0, result.stderr
    printed = dict(line.split("\t", 1) for line in result.stdout.splitlines())
    assert printed.keys() == other_encoders.EMULATED.keys()
    for name, encoder in other_encoders.EMULATED.items():
        assert visible_pieces(encoder(secret), plain[name]), name
        assert visible_pieces(encoder(secret), printed[name]) == [], name
