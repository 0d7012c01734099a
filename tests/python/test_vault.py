"""The Vault class: opening, entry methods, closing, argument handling."""

from __future__ import annotations

import inspect
import os
import stat
import struct
import subprocess
import sys

import pytest
from conftest import KEY_ENV, PASSPHRASE, read_entries, unprivileged
from quillbox import (
    EntryLimitError,
    MasterKeyError,
    QuillBoxError,
    TokenizationError,
    Vault,
    VaultCorruptError,
    VaultNotFoundError,
    VaultPermissionError,
)


def test_opens_a_vault_written_independently_and_saves_one_it_reads(vault, vault_path):
    assert vault.list_keys() == ["API_TOKEN", "DB_PASSWORD"]
    vault.set("API_TOKEN", "rotated")
    vault.set("NEW", b"\x00\xffraw")
    assert vault.delete("DB_PASSWORD") is True
    assert vault.delete("DB_PASSWORD") is False
    assert vault.list_keys() == ["API_TOKEN", "NEW"]
    assert read_entries(vault_path) == [("API_TOKEN", b"rotated"), ("NEW", b"\x00\xffraw")]
    assert stat.S_IMODE(os.stat(vault_path).st_mode) == 0o600


def test_empty_vault_lists_nothing(make_vault):
    with Vault(KEY_ENV, str(make_vault())) as vault:
        assert vault.list_keys() == []


@pytest.mark.parametrize(
    "value, stored",
    [
        ("p\u00e4ss", "p\u00e4ss".encode()),
        (b"secret", b"secret"),
        ([115, 101], b"se"),
        ((0, 255), b"\x00\xff"),
        (memoryview(b"mv"), b"mv"),
        (bytearray(b"ba"), b"ba"),
    ],
)
def test_set_converts_every_accepted_value(vault, vault_path, value, stored):
    vault.set("K", value)
    assert read_entries(vault_path)[-1] == ("K", stored)


def test_set_zeroes_a_bytearray_and_leaves_bytes_alone(vault):
    secret = bytearray(b"secret")
    vault.set("K", secret)
    assert secret == bytearray(6)
    frozen = b"secret"
    vault.set("K", frozen)
    assert frozen == b"secret"


def test_set_zeroes_a_bytearray_even_when_the_name_is_refused(vault):
    secret = bytearray(b"secret")
    with pytest.raises(TokenizationError):
        vault.set("bad-name", secret)
    assert secret == bytearray(6)
    assert vault.list_keys() == ["API_TOKEN", "DB_PASSWORD"]


def test_set_many_stores_every_entry_through_one_save(vault, vault_path):
    before = vault_path.stat().st_ino
    secret = bytearray(b"a new database password")
    vault.set_many({"DB_PASSWORD": secret, "NEW_TOKEN": "tok-1234-5678", "RAW": b"\x00\xff"})
    assert secret == bytearray(len(secret))
    # Written once, by one rename: the replaced entry keeps its place.
    assert vault_path.stat().st_ino != before
    assert [(name, value) for name, value in read_entries(vault_path)][1:] == [
        ("DB_PASSWORD", b"a new database password"),
        ("NEW_TOKEN", b"tok-1234-5678"),
        ("RAW", b"\x00\xff"),
    ]


@pytest.mark.parametrize(
    "entries, error",
    [
        ({"GOOD": "value one", "bad-name": "value two"}, TokenizationError),
        ({f"K{i}": "v" for i in range(10_000)}, EntryLimitError),
        ({"GOOD": 5}, TypeError),
        ([("GOOD", "value")], TypeError),
    ],
    ids=["bad name", "beyond the limit", "bad value", "not a mapping"],
)
def test_set_many_stores_nothing_when_one_entry_is_refused(vault, vault_path, entries, error):
    before = vault_path.read_bytes()
    with pytest.raises(error):
        vault.set_many(entries)
    assert vault.list_keys() == ["API_TOKEN", "DB_PASSWORD"]
    assert vault_path.read_bytes() == before


@pytest.mark.parametrize("value", [5, [300], [-1], ["a"], None, 1.5, {"a": 1}])
def test_set_refuses_other_values(vault, value):
    with pytest.raises(TypeError) as raised:
        vault.set("K", value)
    assert str(raised.value) == "value must be str, bytes, or bytearray"


def test_close_is_idempotent_and_every_method_then_refuses(vault):
    assert vault.close() is None
    assert vault.close() is None
    calls = [
        lambda: vault.list_keys(),
        lambda: vault.set("K", "v"),
        lambda: vault.delete("K"),
        lambda: vault.run("echo hi"),
        lambda: vault.run("echo | bad {{"),  # the closed test comes first
        lambda: vault.run(""),
        lambda: vault.export("/tmp/never"),
        lambda: vault.import_vault("/tmp/never"),
    ]
    for call in calls:
        with pytest.raises(QuillBoxError) as raised:
            call()
        assert type(raised.value) is QuillBoxError
        assert str(raised.value) == "vault is closed"
    assert vault.__enter__() is vault


def test_set_on_a_closed_vault_leaves_the_bytearray_alone(vault):
    vault.close()
    secret = bytearray(b"secret")
    with pytest.raises(QuillBoxError, match="^vault is closed$"):
        vault.set("K", secret)
    assert secret == bytearray(b"secret")


def test_with_block_binds_the_vault_closes_it_and_lets_exceptions_through(vault_path):
    opened = Vault(KEY_ENV, str(vault_path))
    with pytest.raises(ZeroDivisionError), opened as bound:
        assert bound is opened
        1 / 0  # noqa: B018
    with pytest.raises(QuillBoxError, match="^vault is closed$"):
        opened.list_keys()


def test_del_closes(vault):
    assert vault.__del__() is None
    with pytest.raises(QuillBoxError, match="^vault is closed$"):
        vault.list_keys()


@pytest.mark.parametrize(
    "call, prefix",
    [
        (lambda v: v.run(5), "argument 'command': "),
        (lambda v: v.run("true", timeout_secs="1"), "argument 'timeout_secs': "),
        (lambda v: v.run("true", max_output_bytes=1.0), "argument 'max_output_bytes': "),
        (lambda v: v.set(1, "x"), "argument 'key': "),
        (lambda v: v.delete(b"K"), "argument 'key': "),
        (lambda v: v.export(None), "argument 'out_path': "),
        (lambda v: v.import_vault("x", overwrite=1), "argument 'overwrite': "),
        (lambda v: v.import_vault("x", import_key_env=3), "argument 'import_key_env': "),
        (
            lambda v: Vault(KEY_ENV, allow_insecure_permissions=1),
            "argument 'allow_insecure_permissions': ",
        ),
        (lambda v: Vault(KEY_ENV, vault_path=b"/x"), "argument 'vault_path': "),
        (lambda v: Vault(None), "argument 'master_key_env': "),
    ],
)
def test_argument_type_errors_name_the_argument(vault, call, prefix):
    with pytest.raises(TypeError) as raised:
        call(vault)
    assert str(raised.value).startswith(prefix)


@pytest.mark.parametrize("limit", [-1, 2**64])
def test_limits_out_of_range_raise_overflow_error(vault, limit):
    with pytest.raises(OverflowError):
        vault.run("true", timeout_secs=limit)


@pytest.mark.parametrize(
    "call",
    [
        lambda v: v.set("K"),
        lambda v: v.list_keys(1),
        lambda v: v.run(),
        lambda v: v.run("true", nonsense=1),
        lambda v: v.delete("K", key="K"),
        lambda v: v.__exit__(None, None),
    ],
)
def test_binding_errors_are_the_usual_type_errors(vault, call):
    with pytest.raises(TypeError):
        call(vault)


def test_opening_errors(make_vault, tmp_path, monkeypatch):
    with pytest.raises(VaultNotFoundError, match='^vault error: vault not found at "'):
        Vault(KEY_ENV, str(tmp_path / "missing.bin"))

    insecure = make_vault(name="insecure.bin", mode=0o640)
    with pytest.raises(VaultPermissionError, match=r"\(mode 0o100640\)"):
        Vault(KEY_ENV, str(insecure))
    Vault(KEY_ENV, str(insecure), allow_insecure_permissions=True).close()

    # The pinned text comes first, the likelier cause after it; the kind tells it apart.
    other_passphrase = make_vault(name="other.bin", passphrase="a different passphrase")
    with pytest.raises(
        VaultCorruptError,
        match="^vault error: vault header HMAC mismatch — the vault header may have been "
        "tampered with or corrupted; a wrong passphrase gives this too$",
    ) as wrong:
        Vault(KEY_ENV, str(other_passphrase))
    assert wrong.value.kind == "HeaderMacMismatch"

    not_a_vault = tmp_path / "plain.bin"
    not_a_vault.write_bytes(b"x" * 200)
    not_a_vault.chmod(0o600)
    with pytest.raises(
        VaultCorruptError,
        match="^vault error: vault file does not start with the expected magic bytes",
    ):
        Vault(KEY_ENV, str(not_a_vault))

    monkeypatch.delenv(KEY_ENV)
    with pytest.raises(
        MasterKeyError, match=f"^master key error: environment variable {KEY_ENV} is not set"
    ) as unset:
        Vault(KEY_ENV, str(make_vault(name="good.bin", passphrase=PASSPHRASE)))
    assert unset.value.kind == "EnvVarNotSet"


def test_a_bad_key_name_is_told_by_the_rule_of_names_after_the_pinned_text(vault):
    with pytest.raises(TokenizationError) as refused:
        vault.set("bad-name", b"value")
    assert str(refused.value) == (
        "tokenization error: rejected shell metacharacter '-' at byte offset 3 — wrap it in "
        "quotes if it is intended to be literal (in a key name, which quotes cannot make valid: "
        "key names must match [A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, "
        "contain only letters, digits, and underscores))"
    )
    assert refused.value.kind == "RejectedMetacharacter"


def test_errors_of_the_binding_itself_have_no_kind(vault):
    vault.close()
    with pytest.raises(QuillBoxError) as closed:
        vault.list_keys()
    assert closed.value.kind is None


NOT_A_VARIABLE_NAME = (
    "master key error: the name given for the passphrase's environment variable is not a "
    "variable name"
)


@pytest.mark.parametrize("attempt", ["open", "import", "rekey"])
@pytest.mark.parametrize("text", ["my pass phrase", "pass=word", "pässphrase", "2fa-code"])
def test_a_passphrase_given_for_its_variable_name_is_never_shown(vault, vault_path, attempt, text):
    with pytest.raises(MasterKeyError) as raised:
        if attempt == "open":
            Vault(text, str(vault_path))
        elif attempt == "import":
            vault.import_vault(str(vault_path), import_key_env=text)
        else:
            vault.rekey(text)
    assert str(raised.value).startswith(NOT_A_VARIABLE_NAME)
    assert text not in str(raised.value)


# Opens the vault at argv[2], or imports argv[3] into it, with the passphrase
# in the variable argv[1], and prints the error that refuses it.
REFUSED_ATTEMPT = """
import sys
from quillbox import QuillBoxError, Vault

key_env, vault_path, hostile, attempt = sys.argv[1:]
try:
    if attempt == "open":
        Vault(key_env, hostile)
    else:
        with Vault(key_env, vault_path) as vault:
            vault.import_vault(hostile)
except QuillBoxError as error:
    print(error)
"""


@pytest.mark.parametrize("m_cost, t_cost", [(8, 2**32 - 1), (4 * 1024 * 1024, 100_000)])
def test_a_header_asking_for_endless_work_is_refused_before_any(
    vault_path, make_vault, m_cost, t_cost
):
    """The costs are read before the header can be authenticated: a damaged or
    hostile file, opened or imported, is refused at once instead of keeping
    the caller busy for hours."""
    hostile = make_vault([("A", b"1")], name="hostile.bin")
    image = bytearray(hostile.read_bytes())
    struct.pack_into("<II", image, 10, m_cost, t_cost)
    hostile.write_bytes(image)
    for attempt in ("open", "import"):
        # In a process of its own, which the timeout kills: a derivation that
        # never ends fails the test instead of going on working beside the
        # rest of the run.
        refused = subprocess.run(
            [
                sys.executable,
                "-c",
                REFUSED_ATTEMPT,
                KEY_ENV,
                str(vault_path),
                str(hostile),
                attempt,
            ],
            capture_output=True,
            text=True,
            timeout=60,
        )
        assert (refused.returncode, refused.stdout, refused.stderr) == (
            0,
            "I/O error: argon2 params error: memory cost times time cost is too large\n",
            "",
        ), attempt


def refused_attempt(vault_path, hostile, attempt, prefix=(), pass_fds=()):
    """The text of the error that refuses the attempt, made in a process of
    its own that the timeout kills, so that an attempt that blocks fails the
    test instead of hanging it."""
    arguments = [KEY_ENV, str(vault_path), hostile, attempt]
    refused = subprocess.run(
        [*prefix, sys.executable, "-c", REFUSED_ATTEMPT, *arguments],
        capture_output=True,
        text=True,
        timeout=60,
        pass_fds=pass_fds,
    )
    assert (refused.returncode, refused.stderr) == (0, "")
    return refused.stdout.rstrip("\n")


IMPORT_ADVICE = " — an import reads only a regular file"


@pytest.mark.parametrize(
    "plant, expected",
    [
        (os.mkfifo, 'vault error: "{}" is a FIFO' + IMPORT_ADVICE),
        (
            lambda path: os.symlink("/dev/zero", path),
            'vault error: "{}" is a device' + IMPORT_ADVICE,
        ),
        (os.mkdir, 'vault error: "{}" is a directory' + IMPORT_ADVICE),
        (lambda path: None, 'I/O error: No such file or directory (os error 2) (opening "{}")'),
    ],
    ids=["FIFO", "link to /dev/zero", "directory", "missing"],
)
def test_an_import_file_that_is_not_a_regular_file_is_refused_at_once(
    vault_path, tmp_path, plant, expected
):
    hostile = tmp_path / "import.bin"
    plant(hostile)
    assert refused_attempt(vault_path, str(hostile), "import") == expected.format(hostile)


def test_an_import_file_larger_than_any_vault_is_refused_unread(vault_path):
    """A sparse file of 40 TiB: read, it would fill memory with zeros."""
    largest = 10_000 * (16 + 2**32 - 1) + 138
    huge = os.memfd_create("huge-import")
    try:
        os.ftruncate(huge, largest + 1)
        path = f"/proc/self/fd/{huge}"
        assert refused_attempt(vault_path, path, "import", pass_fds=(huge,)) == (
            f'I/O error: "{path}" is larger than any vault file can be (at most {largest} bytes)'
        )
    finally:
        os.close(huge)


@pytest.mark.parametrize("attempt", ["open", "import"])
def test_a_file_that_cannot_be_read_is_named(vault_path, make_vault, attempt):
    unreadable = make_vault([("A", b"1")], name="unreadable.bin", mode=0o000)
    assert refused_attempt(vault_path, str(unreadable), attempt, prefix=unprivileged()) == (
        f'I/O error: Permission denied (os error 13) (opening "{unreadable}")'
    )


def test_export_and_import_through_the_class(vault, make_vault, tmp_path, monkeypatch):
    exported = tmp_path / "backups" / "export.bin"
    vault.export(str(exported))
    assert stat.S_IMODE(os.stat(exported.parent).st_mode) == 0o700
    assert read_entries(exported) == [
        ("API_TOKEN", b"tok-3f9a1c77e2"),
        ("DB_PASSWORD", b"hunter2!"),
    ]

    monkeypatch.setenv("OTHER_KEY", "the other vault's passphrase")
    other = make_vault(
        [("B", b"1"), ("API_TOKEN", b"newer"), ("C", b"2")],
        name="other.bin",
        passphrase="the other vault's passphrase",
    )
    assert vault.import_vault(str(other), import_key_env="OTHER_KEY") == (2, 1, 0)
    assert vault.import_vault(str(other), True, "OTHER_KEY") == (0, 0, 3)
    assert vault.list_keys() == ["API_TOKEN", "DB_PASSWORD", "B", "C"]


def test_export_replaces_a_file_only_when_told_to(vault, tmp_path):
    backup = tmp_path / "notes.txt"
    backup.write_text("my notes\n")
    with pytest.raises(QuillBoxError, match="^I/O error: a file already exists at ") as refused:
        vault.export(str(backup), replace=False)
    assert refused.value.kind == "IoMessage"
    assert backup.read_text() == "my notes\n"
    # No temporary file is left behind either.
    assert not [path for path in tmp_path.iterdir() if ".tmp." in path.name]
    # A dangling link is something at the name too.
    (tmp_path / "dangling").symlink_to(tmp_path / "nowhere")
    with pytest.raises(QuillBoxError, match="a file already exists"):
        vault.export(str(tmp_path / "dangling"), replace=False)
    vault.export(str(backup))
    assert read_entries(backup) == read_entries(tmp_path / "vault.bin")


TEXT_SIGNATURES = {
    "set": "($self, key, value)",
    "delete": "($self, key)",
    "list_keys": "($self)",
    "run": (
        "($self, command, timeout_secs=300, max_output_bytes=52428800, max_stderr_bytes=1048576)"
    ),
    "export": "($self, out_path, *, replace=True)",
    "import_vault": "($self, import_path, overwrite=False, import_key_env=None)",
    "close": "($self)",
    "__enter__": "($self)",
    "__exit__": "($self, _exc_type, _exc_val, _exc_tb)",
    "__del__": "($self)",
}


@pytest.mark.parametrize("name, signature", TEXT_SIGNATURES.items())
def test_method_signatures(name, signature):
    method = getattr(Vault, name)
    assert method.__text_signature__ == signature
    assert str(inspect.signature(method)) == signature.replace("$self", "self, /")


def test_class_signature_and_docstrings():
    assert str(inspect.signature(Vault)) == (
        "(master_key_env, vault_path=None, allow_insecure_permissions=False)"
    )
    assert Vault.__doc__.startswith("An open, decrypted quillbox vault.\n")
    assert Vault.close.__doc__ == (
        "Zeroize all in-memory secret data and release the vault.\n\n"
        "Safe to call multiple times — subsequent calls are no-ops."
    )
    assert Vault.__enter__.__doc__ == "Enter the context manager — returns `self`."
    assert Vault.__exit__.__doc__ == "Exit the context manager — calls `close()`."
    assert Vault.__del__.__doc__ == "Best-effort cleanup when the object is garbage-collected."
