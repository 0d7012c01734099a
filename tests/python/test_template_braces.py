"""The braces of templates (git's --format, Go's, Jinja's, Mustache's) reach the
command as written through run_with and `quillbox run`: there a `{{` opens a
placeholder only where a letter or "_" follows it. Vault.run keeps its grammar."""

from __future__ import annotations

import subprocess
from pathlib import Path

import pytest
from conftest import KEY_ENV, PASSPHRASE
from quillbox import PlaceholderError, TokenizationError
from test_cli import quillbox

KEY_RULE = (
    "key names must match [A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain "
    "only letters, digits, and underscores)"
)
BRACES_HINT = "braces of a template pass through when a space follows {{, as in {{ end }}"
TEMPLATES = [
    "{{.Name}} {{ range .Mounts }}{{.Source}} {{ end }}",
    "{{- if .X }}{{ json . }}",
    "{{%h}}",
    "{{$x := 1}}",
]
PRINT_ARGUMENTS = "import sys; print(*sys.argv[1:], sep='\\n')"


@pytest.fixture
def repository(tmp_path: Path) -> tuple[Path, str]:
    """A git repository of one commit, and its abbreviated hash."""
    path = tmp_path / "repository"
    identity = ["-c", "user.name=t", "-c", "user.email=t@example.test"]
    subprocess.run(["git", "init", "-q", str(path)], check=True)
    subprocess.run(
        ["git", "-C", str(path), *identity, "commit", "-q", "--allow-empty", "-m", "one"],
        check=True,
    )
    short = subprocess.run(
        ["git", "-C", str(path), "rev-parse", "--short", "HEAD"],
        check=True,
        capture_output=True,
        text=True,
    ).stdout.strip()
    return path, short


def quillbox_run(vault_path: Path, *arguments: str):
    return quillbox(
        "run",
        "--vault",
        str(vault_path),
        "--key-env",
        KEY_ENV,
        *arguments,
        env_extra={KEY_ENV: PASSPHRASE},
    )


def test_a_git_format_reaches_git_from_run_with_and_both_forms_of_quillbox_run(
    vault, vault_path: Path, repository: tuple[Path, str]
):
    path, short = repository
    expected = "{{" + short + "}}\n"
    assert vault.run_with(["git", "log", "-1", "--format={{%h}}"], cwd=path).stdout == expected
    for arguments in [
        ("--cwd", str(path), "git log -1 --format='{{%h}}'"),
        ("--cwd", str(path), "--", "git", "log", "-1", "--format={{%h}}"),
    ]:
        ran = quillbox_run(vault_path, *arguments)
        assert (ran.returncode, ran.stdout, ran.stderr) == (0, expected, "")


def test_python3_gets_template_words_verbatim_beside_placeholders(vault, vault_path: Path):
    words = [*TEMPLATES, "{{{API_TOKEN}}}"]
    expected = "\n".join([*TEMPLATES, "{[REDACTED_API_TOKEN]}"]) + "\n"
    assert vault.run_with(["python3", "-c", PRINT_ARGUMENTS, *words]).stdout == expected
    quoted = " ".join(f"'{word}'" for word in words)
    ran = quillbox_run(vault_path, f'python3 -c "{PRINT_ARGUMENTS}" {quoted}')
    assert (ran.returncode, ran.stdout) == (0, expected)


@pytest.mark.parametrize(
    "word, kind, message",
    [
        # A mistyped name stays an unresolved key, with no word on templates.
        (
            "{{API_TOKN}}",
            "UnresolvedPlaceholder",
            "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
            "exists in the vault. Use `quillbox set API_TOKN` to add it",
        ),
        # A name that may be a template's action says how to write one.
        (
            "{{end}}",
            "UnresolvedPlaceholder",
            "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
            f"exists in the vault. Use `quillbox set end` to add it — {BRACES_HINT}",
        ),
        (
            "{{API-TOKEN}}",
            "InvalidPlaceholder",
            "placeholder error: invalid placeholder key name in {{API-TOKEN}} — "
            f"{KEY_RULE} — {BRACES_HINT}",
        ),
        (
            "{{range .Items}}",
            "InvalidPlaceholder",
            "placeholder error: invalid placeholder key name in {{range .Items}} — "
            f"{KEY_RULE} — {BRACES_HINT}",
        ),
        (
            "{{if .X",
            "UnclosedPlaceholder",
            "placeholder error: malformed placeholder: {{if .X — missing closing '}' — "
            + BRACES_HINT,
        ),
    ],
)
def test_names_that_open_a_placeholder_fail_clearly(vault, vault_path, word, kind, message):
    with pytest.raises(PlaceholderError) as raised:
        vault.run_with(["echo", word])
    assert (type(raised.value), raised.value.kind, str(raised.value)) == (
        PlaceholderError,
        kind,
        message,
    )
    ran = quillbox_run(vault_path, "--", "echo", word)
    assert (ran.returncode, ran.stdout, ran.stderr) == (1, "", f"quillbox: {message}\n")


def test_run_keeps_every_brace_pair_a_placeholder(vault):
    with pytest.raises(TokenizationError) as raised:
        vault.run("echo '{{.Name}}'")
    assert raised.value.kind == "InvalidPlaceholderKey"
    assert str(raised.value) == (
        f"tokenization error: invalid placeholder key name in {{{{.Name}}}} — {KEY_RULE}"
    )
