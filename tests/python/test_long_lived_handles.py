"""A Vault that stays open sees the vault file as it is at each call: what other
processes saved since, and a file that can no longer be read."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest
import reference_vault
from conftest import KEY_ENV, PASSPHRASE
from quillbox import PlaceholderError, Vault, VaultCorruptError, VaultNotFoundError


def quillbox(path: Path, *arguments: str, stdin: str = "") -> None:
    """Another process: the command line, on the same vault file."""
    done = subprocess.run(
        [sys.executable, "-m", "quillbox", *arguments, "--vault", str(path), "--key-env", KEY_ENV],
        input=stdin,
        capture_output=True,
        text=True,
        env={**os.environ, KEY_ENV: PASSPHRASE},
        timeout=120,
    )
    assert done.returncode == 0, done.stderr


# What another process does, then what this handle's next run of
# `echo {{NAME}}` prints (or the error it raises) and what it lists.
ELSEWHERE = [
    pytest.param(("set", "NEW_NAME"), "new-value-24680", "NEW_NAME", None, id="a new name"),
    pytest.param(("delete", "OLD_NAME"), "", "OLD_NAME", PlaceholderError, id="a delete"),
    pytest.param(("set", "OLD_NAME"), "rotated-value-98765", "OLD_NAME", None, id="a rotation"),
]


@pytest.mark.parametrize(("command", "stdin", "name", "raised"), ELSEWHERE)
def test_a_long_lived_vault_sees_another_process_s_save(make_vault, command, stdin, name, raised):
    path = make_vault([("OLD_NAME", b"old-value-13579")])
    with Vault(KEY_ENV, str(path)) as vault:
        assert vault.run("echo {{OLD_NAME}}").stdout == "[REDACTED_OLD_NAME]\n"
        quillbox(path, *command, stdin=stdin)

        if raised:
            with pytest.raises(raised, match=name):
                vault.run(f"echo {{{{{name}}}}}")
        else:
            # The value now in the file is the one injected, and it comes back redacted.
            shown = vault.run(f"printf '%s\\n' {{{{{name}}}}} {stdin}").stdout
            assert shown == f"[REDACTED_{name}]\n[REDACTED_{name}]\n"
        # The old value is injected no more, and is no longer a secret of this vault.
        assert vault.run("echo old-value-13579").stdout == (
            "[REDACTED_OLD_NAME]\n" if name == "NEW_NAME" else "old-value-13579\n"
        )
        assert vault.list_keys() == [
            entry[0] for entry in reference_vault.decode(path.read_bytes(), PASSPHRASE.encode())
        ]


def damage(path: Path, offset: int) -> None:
    """Flips one bit in place: the same inode, the same size."""
    offset %= path.stat().st_size
    with path.open("r+b") as file:
        file.seek(offset)
        byte = file.read(1)[0]
        file.seek(offset)
        file.write(bytes([byte ^ 1]))


# How the file is spoiled, and what every call raises until it is back: what
# opening it would raise.
SPOILED = [
    pytest.param(
        lambda path, make: make([("A", b"other")], passphrase="another passphrase"),
        VaultCorruptError,
        id="another passphrase",
    ),
    pytest.param(lambda path, make: damage(path, -1), VaultCorruptError, id="damaged tag"),
    # Behind an intact commit tag: only decoding the file again finds it.
    pytest.param(lambda path, make: damage(path, 120), VaultCorruptError, id="damaged entry"),
    pytest.param(lambda path, make: path.unlink(), VaultNotFoundError, id="removed"),
]


@pytest.mark.parametrize(("spoil", "raised"), SPOILED)
def test_a_file_that_cannot_be_read_fails_each_call_until_it_is_back(make_vault, spoil, raised):
    path = make_vault([("A", b"value-one")])
    good = path.read_bytes()
    with Vault(KEY_ENV, str(path)) as vault:
        spoil(path, make_vault)
        with pytest.raises(raised) as opening:
            Vault(KEY_ENV, str(path))
        calls = [
            vault.list_keys,
            lambda: vault.run("echo {{A}}"),
            lambda: vault.set("B", "two"),
            lambda: vault.delete("A"),
            lambda: vault.export(str(path.with_name("copy.bin"))),
            lambda: vault.import_vault(str(path.with_name("copy.bin"))),
            lambda: vault.rekey(KEY_ENV),
        ]
        for call in calls:
            with pytest.raises(raised) as failed:
                call()
            assert str(failed.value) == str(opening.value)

        path.write_bytes(good)
        path.chmod(0o600)
        assert vault.list_keys() == ["A"]
        assert vault.run("echo {{A}}").stdout == "[REDACTED_A]\n"
        vault.set("B", "two")
    assert [name for name, _ in reference_vault.decode(path.read_bytes(), PASSPHRASE.encode())] == [
        "A",
        "B",
    ]
