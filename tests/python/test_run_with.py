"""Vault.run_with: argument vectors and an environment of the child's own,
through the same pipeline as Vault.run."""

from __future__ import annotations

import hashlib

import pytest

from quillbox import PlaceholderError, TokenizationError

TOKEN = "tok-3f9a1c77e2"


def test_an_environment_value_is_filled_and_the_output_redacted(vault):
    result = vault.run_with(["sh", "-c", 'echo "$T"; echo "$T" >&2'], env={"T": "{{API_TOKEN}}"})
    assert (result.stdout, result.stderr, result.exit_code) == (
        "[REDACTED_API_TOKEN]\n",
        "[REDACTED_API_TOKEN]\n",
        0,
    )


def test_the_environment_is_exactly_the_one_given(vault):
    assert vault.run_with(["env"]).stdout == ""
    environment = {"B": "2", "A": "x={{DB_PASSWORD}}", "EMPTY": ""}
    assert vault.run_with(["env"], env=environment).stdout == (
        "B=2\nA=x=[REDACTED_DB_PASSWORD]\nEMPTY=\n"
    )


def test_an_argument_vector_goes_to_the_child_as_it_stands(vault):
    words = ["printf", "%s|%s|%s", "{{API_TOKEN}}", "a b;c'd $HOME", ""]
    assert vault.run_with(words).stdout == "[REDACTED_API_TOKEN]|a b;c'd $HOME|"
    assert vault.run_with(("printf", "%s", "pre{{API_TOKEN}}post")).stdout == (
        "pre[REDACTED_API_TOKEN]post"
    )


def test_the_input_is_fed_to_the_child_then_closed(vault):
    digest = hashlib.sha256(f"token={TOKEN}\n".encode()).hexdigest()
    fed = vault.run_with(["sha256sum"], input="token={{API_TOKEN}}\n")
    assert fed.stdout == f"{digest}  -\n"
    raw = bytes(range(256)) + b"{{API_TOKEN}}"
    assert vault.run_with(["sha256sum"], input=raw).stdout == (
        hashlib.sha256(raw).hexdigest() + "  -\n"
    )
    assert vault.run_with(["cat"], input="{{API_TOKEN}}").stdout == "[REDACTED_API_TOKEN]"
    # A child that never reads does not hold the run past its deadline.
    stopped = vault.run_with(["sleep", "5"], input="x" * (4 << 20), timeout_secs=1)
    assert stopped.timed_out


def test_a_command_line_and_the_limits_work_as_in_run(vault):
    for command in ["echo {{API_TOKEN}} '{{DB_PASSWORD}}'", "sh -c 'exit 3'"]:
        ran, ran_with = vault.run(command), vault.run_with(command)
        assert (ran_with.stdout, ran_with.stderr, ran_with.exit_code) == (
            ran.stdout,
            ran.stderr,
            ran.exit_code,
        )
    stopped = vault.run_with(["sleep", "5"], timeout_secs=1, max_output_bytes=10)
    assert (stopped.timed_out, stopped.exit_code) == (True, 124)


NAME_RULE = "a name must be non-empty and hold no '=', no NUL byte and no \"{{\""


@pytest.mark.parametrize(
    "command, env, error, message",
    [
        ([], None, TokenizationError,
         "tokenization error: argument vector is empty — nothing to execute"),
        (["env"], {"": "x"}, TokenizationError,
         f'tokenization error: invalid environment variable name "" — {NAME_RULE}'),
        (["env"], {"A=B": "x"}, TokenizationError,
         f'tokenization error: invalid environment variable name "A=B" — {NAME_RULE}'),
        (["env"], {"A\0B": "x"}, TokenizationError,
         f'tokenization error: invalid environment variable name "A\\0B" — {NAME_RULE}'),
        (["env"], {"{{API_TOKEN}}": "x"}, TokenizationError,
         'tokenization error: invalid environment variable name "{{API_TOKEN}}" — '
         + NAME_RULE),
        (["env"], {"T": "{{bad-key}}"}, TokenizationError,
         "tokenization error: invalid placeholder key name in {{bad-key}} — key names must "
         "match [A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain only "
         "letters, digits, and underscores)"),
        # Every word and name is checked before any key is looked up.
        (["echo", "{{NOPE}}"], {"T": "{{bad-key}}"}, TokenizationError,
         "tokenization error: invalid placeholder key name in {{bad-key}} — key names must "
         "match [A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain only "
         "letters, digits, and underscores)"),
        (["env"], {"T": "{{NOPE}}"}, PlaceholderError,
         "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
         "exists in the vault. Use `quillbox set NOPE` to add it"),
        (42, None, TypeError, "argument 'command': expected str or a sequence of str, got int"),
        (b"echo", None, TypeError,
         "argument 'command': expected str or a sequence of str, got bytes"),
        (["echo", 1], None, TypeError, "argument 'command': expected str, got int"),
        (["env"], ["A=1"], TypeError, "argument 'env': expected a mapping of str to str, got list"),
        (["env"], {"A": 1}, TypeError, "argument 'env': expected str, got int"),
    ],
)
def test_bad_input_raises_its_exception_with_a_clear_message(vault, command, env, error, message):
    with pytest.raises(error) as raised:
        vault.run_with(command, env=env)
    assert type(raised.value) is error
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "given, error, message",
    [
        (42, TypeError, "argument 'input': expected str or bytes, got int"),
        ("{{NOPE}}", PlaceholderError,
         "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
         "exists in the vault. Use `quillbox set NOPE` to add it"),
    ],
)
def test_bad_input_text_is_refused(vault, given, error, message):
    with pytest.raises(error) as raised:
        vault.run_with(["cat"], input=given)
    assert str(raised.value) == message


def test_a_refused_environment_starts_no_process_and_env_is_keyword_only(vault, tmp_path):
    marker = tmp_path / "started"
    with pytest.raises(PlaceholderError):
        vault.run_with(["touch", str(marker)], env={"T": "{{NOPE}}"})
    assert not marker.exists()
    with pytest.raises(TypeError):
        vault.run_with(["env"], {"A": "1"})
