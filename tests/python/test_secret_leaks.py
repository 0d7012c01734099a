"""No raised message, no RunResult text and nothing the module writes to standard
error ever shows a secret value, whatever its bytes and whichever layer fails."""

from __future__ import annotations

import re

import pytest
from conftest import KEY_ENV
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from quillbox import CommandError, PlaceholderError, TokenizationError, Vault

secret_values = st.one_of(
    st.binary(min_size=1, max_size=1),
    st.binary(min_size=1, max_size=32),  # mostly not UTF-8
    st.text(alphabet=" \t'\"\\$|;{}=-_aAzZ09é€", min_size=1, max_size=24).map(str.encode),
    st.text(min_size=1, max_size=16).map(lambda text: text.encode("utf-8", "surrogatepass")),
)

SPAWN_FAILURE = re.compile(
    r"spawn error: (command not found: \[REDACTED_S\] — verify the binary exists and is on PATH"
    r"|command not executable: \[REDACTED_S\] — check file permissions and ensure the file is "
    r"a valid executable"
    r"|failed to spawn \[REDACTED_S\]: [^\n]*)"
)


@pytest.fixture(scope="module")
def shared_vault(tmp_path_factory, master_key_for_module):
    import reference_vault

    path = tmp_path_factory.mktemp("leaks") / "vault.bin"
    path.write_bytes(reference_vault.encode([], master_key_for_module.encode()))
    path.chmod(0o600)
    with Vault(KEY_ENV, str(path)) as vault:
        yield vault


@pytest.fixture(scope="module")
def master_key_for_module():
    from conftest import PASSPHRASE

    with pytest.MonkeyPatch.context() as patch:
        patch.setenv(KEY_ENV, PASSPHRASE)
        yield PASSPHRASE


def message_of(call) -> tuple:
    with pytest.raises(Exception) as raised:
        call()
    return type(raised.value), str(raised.value)


@settings(
    max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
)
@given(value=secret_values)
def test_no_layer_shows_a_secret(shared_vault, capfd, value):
    vault = shared_vault
    for name in vault.list_keys():
        vault.delete(name)
    vault.set("S", value)
    capfd.readouterr()

    # Placeholder layer: the message names keys, never values.
    assert message_of(lambda: vault.run("echo {{S}} {{MISSING}}")) == (
        PlaceholderError,
        "placeholder error: unresolved placeholder {{{key}}} — no entry with that name exists in "
        "the vault. Use `quillbox set MISSING` to add it",
    )
    # Tokenizer layer: refused before any value is read.
    assert message_of(lambda: vault.run("{{S}} | cat")) == (
        TokenizationError,
        "tokenization error: rejected shell metacharacter '|' at byte offset 6 — wrap it in "
        "quotes if it is intended to be literal",
    )

    # Spawn layer: a program named by the secret is shown by its label only.
    try:
        named = vault.run("{{S}}", timeout_secs=5)
    except CommandError as error:
        assert SPAWN_FAILURE.fullmatch(str(error)), str(error)
    else:  # the value happens to name a real program
        assert_redacted(named, value)

    if b"\0" in value:
        # An interior NUL stops the spawn; the message is the same for every such value.
        assert message_of(lambda: vault.run("echo {{S}}")) == (
            CommandError,
            "spawn error: failed to spawn echo: " + nul_reason(vault),
        )
    else:
        printed = vault.run("printf %s {{S}}")
        assert (printed.stdout, printed.stderr, printed.exit_code) == ("[REDACTED_S]", "", 0)

    assert capfd.readouterr() == ("", "")


def assert_redacted(result, value: bytes) -> None:
    """What a real program printed holds the secret only as labels. Values of a
    few bytes also occur in ordinary text by chance, so only longer ones are
    looked for once the labels are taken out."""
    for text in (result.stdout, result.stderr):
        shown = re.sub(r"\[REDACTED_S(_[A-Z0-9]+)?\]", "", text).encode("utf-8", "surrogatepass")
        assert len(value) < 4 or value not in shown


def nul_reason(vault) -> str:
    """The reason the spawn gives for an interior NUL, learnt from a fixed value."""
    vault.set("NUL_PROBE", b"a\0b")
    try:
        return message_of(lambda: vault.run("echo {{NUL_PROBE}}"))[1].split(": ", 2)[2]
    finally:
        vault.delete("NUL_PROBE")
