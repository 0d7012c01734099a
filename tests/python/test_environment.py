"""quillbox.environment: the environments a command may be given, and the dotenv
files they may be read from."""

from __future__ import annotations

import os

import pytest
from quillbox._dotenv import parse_env_text
from quillbox.environment import (
    EnvFileError,
    base_environment,
    entries_environment,
    inherited_environment,
    read_env_file,
)

SECRET = "s3cr3t-value"
NAME_RULE = (
    "invalid variable name — names match [A-Za-z_][A-Za-z0-9_]* (start with a letter or "
    "underscore, contain only letters, digits, and underscores)"
)


@pytest.mark.parametrize(
    "line, variables",
    [
        ("A=b", {"A": "b"}),
        ("export A=b", {"A": "b"}),
        ("export\tA=b", {"A": "b"}),
        ("export=b", {"export": "b"}),
        ("  A = b  ", {"A": "b"}),
        ("A=", {"A": ""}),
        ("A=''", {"A": ""}),
        ('A=""', {"A": ""}),
        ("A=b=c==", {"A": "b=c=="}),
        ("A=x{{T}}y", {"A": "x{{T}}y"}),
        ("A=b # a comment", {"A": "b"}),
        ("A=b#c", {"A": "b#c"}),
        ("A=#c", {"A": "#c"}),
        ("A= #c", {"A": ""}),
        ("A=b c\td", {"A": "b c\td"}),
        ("A=it's", {"A": "it's"}),
        ("A=$HOME ${USER}", {"A": "$HOME ${USER}"}),
        (r"A='a \n # \" $B'", {"A": r"a \n # \" $B"}),
        ("A='a' # note", {"A": "a"}),
        (r'A="a\nb\tc\"d\\e"', {"A": 'a\nb\tc"d\\e'}),
        ('A="a # b"#c', {"A": "a # b"}),
        ('A="it\'s $B"', {"A": "it's $B"}),
        ("", {}),
        ("   ", {}),
        ("# A=b", {}),
        ("  # A=b", {}),
        ("A=b\r", {"A": "b"}),
        ("_a9=1", {"_a9": "1"}),
    ],
)
def test_a_line_sets_its_variable(line, variables):
    assert parse_env_text(line, "x.env") == variables


@pytest.mark.parametrize(
    "line, problem",
    [
        (SECRET, "expected NAME=value"),
        (f"export {SECRET}", "expected NAME=value"),
        (f"9A={SECRET}", NAME_RULE),
        (f"A-B={SECRET}", NAME_RULE),
        (f"A B={SECRET}", NAME_RULE),
        (f"={SECRET}", NAME_RULE),
        (f"\u00e9={SECRET}", NAME_RULE),
        (f"A='{SECRET}", "the single quote is not closed on this line"),
        (f'A="{SECRET}', "the double quote is not closed on this line"),
        (f'A="{SECRET}\\"', "the double quote is not closed on this line"),
        (f"A='{SECRET}'x", "text after the closing quote (quote the whole value)"),
        (f'A="{SECRET}" {SECRET}', "text after the closing quote (quote the whole value)"),
        (
            f'A="{SECRET}\\q"',
            'unknown escape in double quotes (\\n, \\t, \\" and \\\\ are known; single quotes '
            "take a backslash as written)",
        ),
    ],
)
def test_a_bad_line_is_named_by_its_number_never_by_its_value(line, problem):
    text = f"# a comment\n\nGOOD=1\n{line}\nLATER=2\n"
    with pytest.raises(EnvFileError) as raised:
        parse_env_text(text, "deploy.env")
    assert str(raised.value) == f"deploy.env, line 4: {problem}"


def test_later_lines_win_and_lines_end_in_either_way():
    text = "A=1\r\nB='two'\r\nA=3\n"
    assert parse_env_text(text, "x.env") == {"A": "3", "B": "two"}


def test_a_file_is_read_as_utf8_and_named_in_its_errors(tmp_path):
    good = tmp_path / "good.env"
    good.write_text("\ufeffGREETING='h\u00e9llo'\nTOKEN={{API_TOKEN}}\n", encoding="utf-8")
    assert read_env_file(good) == {"GREETING": "h\u00e9llo", "TOKEN": "{{API_TOKEN}}"}
    binary = tmp_path / "binary.env"
    binary.write_bytes(b"A=1\nB=\xff" + SECRET.encode() + b"\n")
    with pytest.raises(EnvFileError) as raised:
        read_env_file(binary)
    assert str(raised.value) == f"{binary}, line 2: not UTF-8 text"
    with pytest.raises(FileNotFoundError):
        read_env_file(tmp_path / "missing.env")


@pytest.fixture
def process_environment(monkeypatch):
    """This process's environment: the base set, others, and two passphrase variables."""
    for name in list(os.environ):
        monkeypatch.delenv(name)
    given = {
        "PATH": "/bin",
        "HOME": "/home/me",
        "LC_ALL": "C",
        "LC_SECRET": "a passphrase in an LC_ variable",
        "TZ": "UTC",
        "QUILLBOX_KEY": "the default variable's passphrase",
        "OTHER": "{{API_TOKEN}}",
    }
    for name, value in given.items():
        monkeypatch.setenv(name, value)
    return given


def test_neither_environment_holds_a_passphrase_variable(process_environment):
    assert base_environment() == {
        "PATH": "/bin",
        "HOME": "/home/me",
        "LC_ALL": "C",
        "LC_SECRET": "a passphrase in an LC_ variable",
        "TZ": "UTC",
    }
    assert base_environment("LC_SECRET") == {
        "PATH": "/bin",
        "HOME": "/home/me",
        "LC_ALL": "C",
        "TZ": "UTC",
    }
    inherited = inherited_environment("LC_SECRET")
    assert not inherited.keys() & {"LC_SECRET", "QUILLBOX_KEY"}
    others = {"PATH", "HOME", "LC_ALL", "TZ", "OTHER"}
    assert inherited.items() >= {(name, process_environment[name]) for name in others}


def test_entries_become_variables_of_their_own_names(vault):
    assert entries_environment(vault) == {
        "API_TOKEN": "{{API_TOKEN}}",
        "DB_PASSWORD": "{{DB_PASSWORD}}",
    }
    chosen = entries_environment(vault, ["DB_PASSWORD"])
    assert chosen == {"DB_PASSWORD": "{{DB_PASSWORD}}"}
    shown = vault.run_with(["env"], env=chosen)
    assert shown.stdout == "DB_PASSWORD=[REDACTED_DB_PASSWORD]\n"
