"""Vault.run end to end: tokenize, resolve, spawn, capture, redact."""

from __future__ import annotations

import base64
import random

import pytest
from conftest import KEY_ENV, PASSPHRASE
from quillbox import CommandError, PlaceholderError, TokenizationError, Vault

TOKEN = "tok-3f9a1c77e2"


def test_placeholder_is_injected_and_the_output_redacted(vault):
    result = vault.run("echo {{API_TOKEN}} and {{DB_PASSWORD}}")
    assert result.stdout == "[REDACTED_API_TOKEN] and [REDACTED_DB_PASSWORD]\n"
    assert result.stderr == ""
    assert result.exit_code == 0
    assert result.timed_out is False


def test_a_secret_not_named_in_the_command_is_still_redacted(vault, tmp_path):
    leak = tmp_path / "leak.txt"
    encoded = base64.b64encode(TOKEN.encode()).decode()
    leak.write_text(f"raw={TOKEN} b64={encoded} hex={TOKEN.encode().hex()}\n")
    result = vault.run(f"cat '{leak}'")
    assert result.stdout == (
        "raw=[REDACTED_API_TOKEN] b64=[REDACTED_API_TOKEN_B64] hex=[REDACTED_API_TOKEN_HEX]\n"
    )


def test_stderr_and_exit_code_come_back(vault):
    result = vault.run("sh -c 'echo {{API_TOKEN}} >&2; exit 3'")
    assert result.stderr == "[REDACTED_API_TOKEN]\n"
    assert result.exit_code == 3


@pytest.mark.parametrize(
    "command, limits, stdout, timed_out, stopped_by",
    [
        ("sleep 5", {"timeout_secs": 1}, "", True, "timeout"),
        (
            "sh -c 'head -c 2000 /dev/zero; exec sleep 5'",
            {"max_output_bytes": 1000},
            "\0" * 1000,
            False,
            "stdout limit",
        ),
        (
            "sh -c 'head -c 2000 /dev/zero >&2; exec sleep 5'",
            {"max_stderr_bytes": 1000},
            "",
            False,
            "stderr limit",
        ),
        # A command that exits with 124 itself was stopped by nothing.
        ("sh -c 'exit 124'", {}, "", False, None),
    ],
)
def test_a_timeout_or_an_output_limit_stops_the_child(
    vault, command, limits, stdout, timed_out, stopped_by
):
    result = vault.run(command, **limits)
    assert (result.exit_code, result.stdout) == (124, stdout)
    assert (result.timed_out, result.stopped_by) == (timed_out, stopped_by)


def test_the_child_gets_an_empty_environment(vault):
    assert vault.run("env").stdout == ""


@pytest.mark.parametrize(
    "command, error, message",
    [
        ("", TokenizationError, "tokenization error: command string is empty — nothing to execute"),
        (
            "echo {{A}} | cat",
            TokenizationError,
            "tokenization error: rejected shell metacharacter '|' at byte offset 11 — wrap it in "
            "quotes if it is intended to be literal",
        ),
        (
            "echo {{API_TOKEN}} | cat",
            TokenizationError,
            "tokenization error: rejected shell metacharacter '|' at byte offset 19 — wrap it in "
            "quotes if it is intended to be literal",
        ),
        (
            "echo {{NOPE}} {{bad-key}}",
            TokenizationError,
            "tokenization error: invalid placeholder key name in {{bad-key}} — key names must "
            "match [A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain only "
            "letters, digits, and underscores)",
        ),
        (
            "echo {{NOPE}}",
            PlaceholderError,
            "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
            "exists in the vault. Use `quillbox set NOPE` to add it",
        ),
        (
            "no-such-program-here",
            CommandError,
            "spawn error: command not found: no-such-program-here — verify the binary exists "
            "and is on PATH",
        ),
    ],
)
def test_refusals_raise_their_exception_with_the_exact_message(vault, command, error, message):
    with pytest.raises(error) as raised:
        vault.run(command)
    assert type(raised.value) is error
    assert str(raised.value) == message


def test_a_refused_command_starts_no_process(vault, tmp_path):
    marker = tmp_path / "started"
    with pytest.raises(PlaceholderError):
        vault.run(f"touch '{marker}' {{{{NOPE}}}}")
    assert not marker.exists()


def test_a_program_named_by_a_placeholder_is_shown_by_its_label(vault):
    with pytest.raises(CommandError) as raised:
        vault.run("{{API_TOKEN}}")
    assert TOKEN not in str(raised.value)
    assert "[REDACTED_API_TOKEN]" in str(raised.value)


def test_runs_see_entries_as_they_are_now(vault):
    vault.set("LATE", "added-after-open")
    assert vault.run("echo added-after-open").stdout == "[REDACTED_LATE]\n"
    vault.delete("LATE")
    assert vault.run("echo added-after-open").stdout == "added-after-open\n"


@pytest.mark.parametrize(
    "script, limits, expected_stream, expected",
    [
        # The output limit, or the error limit, cuts inside the secret.
        (
            'printf "token: %s" "$1"; exec sleep 5',
            {"max_output_bytes": 15},
            "stdout",
            "token: [REDACTED_API_TOKEN]",
        ),
        (
            'printf "token: %s" "$1" >&2; exec sleep 5',
            {"max_stderr_bytes": 15},
            "stderr",
            "token: [REDACTED_API_TOKEN]",
        ),
        # The deadline stops a child that has printed the start of it.
        (
            'printf "token: %.8s" "$1"; exec sleep 5',
            {"timeout_secs": 1},
            "stdout",
            "token: [REDACTED_API_TOKEN]",
        ),
        # Three bytes are too few to tell.
        ('printf "token: %s" "$1"; exec sleep 5', {"max_output_bytes": 10}, "stdout", "token: tok"),
        # A child that ends by itself printed what it meant to.
        ('printf "token: %.8s" "$1"', {}, "stdout", "token: tok-3f9a"),
    ],
)
def test_a_cut_stream_does_not_end_in_the_start_of_a_secret(
    vault, script, limits, expected_stream, expected
):
    result = vault.run(f"sh -c '{script}' sh {{{{API_TOKEN}}}}", **limits)
    assert getattr(result, expected_stream) == expected


def test_a_value_of_two_million_bytes_is_redacted_whole_in_each_form(vault, tmp_path):
    rng = random.Random(7)
    lines = (base64.b64encode(rng.randbytes(48)).decode() + "\n" for _ in range(30_304))
    bundle = ("-----BEGIN CERTIFICATE-----\n" + "".join(lines))[:2_000_000]
    vault.set("BUNDLE", bundle)
    plain, encoded = tmp_path / "bundle.pem", tmp_path / "bundle.b64"
    plain.write_text("ca=" + bundle + ";")
    encoded.write_bytes(base64.b64encode(bundle.encode()))
    assert vault.run(f"cat '{plain}' '{encoded}'").stdout == (
        "ca=[REDACTED_BUNDLE];[REDACTED_BUNDLE_B64]"
    )
    # All but its last byte, its final newline, is not the secret whole, yet
    # each of its lines is a line of the secret.
    plain.write_text(bundle[:-1])
    line_count = bundle.count("\n")
    assert vault.run(f"cat '{plain}'").stdout == "\n".join(["[REDACTED_BUNDLE_LINE]"] * line_count)


def test_the_master_passphrase_is_redacted_while_long_enough(vault, master_key, monkeypatch):
    encoded = base64.b64encode(master_key.encode()).decode()
    result = vault.run(f"printf '%s %s' '{master_key}' {encoded}")
    assert result.stdout == "[REDACTED_QUILLBOX_TEST_KEY] [REDACTED_QUILLBOX_TEST_KEY_B64]"

    # The passphrase is read at every run; a short one would redact ordinary words.
    monkeypatch.setenv(KEY_ENV, "1234567")
    assert vault.run(f"printf '%s %s' '{master_key}' 1234567").stdout == f"{master_key} 1234567"
    monkeypatch.delenv(KEY_ENV)
    assert vault.run("echo {{API_TOKEN}}").stdout == "[REDACTED_API_TOKEN]\n"


def base64_text(text: str) -> str:
    return base64.b64encode(text.encode()).decode()


PASSPHRASE_LABEL = f"[REDACTED_{KEY_ENV}]"


# Where an entry's form and the passphrase's both begin at one place in the
# output, the longer is redacted, so that the tail of neither shows.
@pytest.mark.parametrize(
    "entry, shown, redacted",
    [
        # An entry that begins the passphrase ...
        ("correct horse battery", PASSPHRASE, PASSPHRASE_LABEL),
        ("correct horse battery", "correct horse battery", "[REDACTED_ENTRY]"),
        # ... in Base64 text with a line feed after the passphrase, against
        # the entry's padded Base64 ...
        ("correct horse battery", base64_text(PASSPHRASE + "\n"), f"[REDACTED_{KEY_ENV}_B64]Qo="),
        # ... and one that the passphrase begins.
        (PASSPHRASE + "!", PASSPHRASE + "!", "[REDACTED_ENTRY]"),
        (PASSPHRASE + "!", PASSPHRASE + "?", PASSPHRASE_LABEL + "?"),
        (PASSPHRASE + "!", base64_text(PASSPHRASE + "!"), "[REDACTED_ENTRY_B64]"),
    ],
)
def test_the_longer_of_an_entry_and_the_passphrase_is_redacted(make_vault, entry, shown, redacted):
    path = make_vault([("ENTRY", entry.encode())])
    with Vault(KEY_ENV, str(path)) as vault:
        assert vault.run(f"printf %s '{shown}'").stdout == redacted
