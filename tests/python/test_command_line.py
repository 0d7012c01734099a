"""The grammar of the `quillbox` command, read in this process: what a command
line means, what it shows for help, and how it is refused."""

from __future__ import annotations

from typing import Any

import pytest
from quillbox import cli

SECRET = "sk-live-5d1e9c3a"


def parse(argv: list[str]) -> Any:
    return cli.parse_arguments(argv)


def exit_of(argv: list[str], capsys: pytest.CaptureFixture[str]) -> tuple[int, str, str]:
    with pytest.raises(SystemExit) as ended:
        parse(argv)
    shown = capsys.readouterr()
    return ended.value.code, shown.out, shown.err


@pytest.mark.parametrize(
    "argv, expected",
    [
        # Options common to every command, before the subcommand or after it.
        (["--vault", "v", "list"], {"subcommand": "list", "vault": "v"}),
        (["list", "--vault", "v"], {"subcommand": "list", "vault": "v"}),
        (["--vault", "a", "list", "--vault", "b"], {"vault": "b"}),
        (["--vault=v", "--key-env=K", "list"], {"vault": "v", "key_env": "K"}),
        (["list", "--allow-insecure-permissions", "--json"], {"allow_insecure_permissions": True}),
        (["list"], {"vault": None, "key_env": "QUILLBOX_KEY", "json": False}),
        # Options after positionals, and between them.
        (["delete", "KEY", "--vault", "v"], {"key": "KEY", "vault": "v"}),
        (["import", "b.vault", "--overwrite", "--vault", "v"], {"path": "b.vault"}),
        # A value that starts with - is a value, for the option that needs one.
        (["run", "--input", "-x", "--", "cat"], {"input": "-x", "argument_vector": ["cat"]}),
        (["run", "--input=-x", "--", "cat"], {"input": "-x"}),
        (["run", "--input", "--help", "--", "cat"], {"input": "--help"}),
        (["run", "--env", "A=-b", "--env=C=d", "--", "env"], {"env": [("A", "-b"), ("C", "d")]}),
        (["run", "--timeout=5m", "--max-output-bytes=1K", "true"], {"timeout": 300}),
        (["rekey", "--keep-passphrase", "--m-cost=16"], {"keep_passphrase": True, "m_cost": 16}),
        # A lone - is an argument.
        (["delete", "-"], {"key": "-"}),
        # -- ends the options everywhere.
        (["export", "--", "-backup"], {"path": "-backup"}),
        (["export", "--force", "--", "--"], {"path": "--", "force": True}),
        (["--", "export", "-backup"], {"subcommand": "export", "path": "-backup"}),
        (["--vault", "v", "--", "delete", "--json"], {"vault": "v", "key": "--json"}),
        (["set", "KEY", "--"], {"key": "KEY"}),
        # ...and starts the argument vector of run, wherever it stands.
        (["run", "--", "ls", "--", "-h"], {"argument_vector": ["ls", "--", "-h"]}),
        (["run", "--vault", "v", "--", "printf", "--vault"], {"vault": "v"}),
        (["--", "run", "ls", "--help"], {"argument_vector": ["ls", "--help"], "command": None}),
        (["run", "echo hi", "--vault", "v"], {"command": "echo hi", "argument_vector": None}),
    ],
)
def test_what_a_command_line_means(argv, expected):
    parsed = parse(argv)
    assert {name: getattr(parsed, name) for name in expected} == expected


def test_a_repeatable_option_starts_empty_at_every_parse():
    first = parse(["run", "--env", "A=1", "--pass-env", "X", "--deny", "/d", "--", "env"])
    second = parse(["run", "--", "env"])
    assert (first.env, first.pass_env, first.deny) == ([("A", "1")], ["X"], ["/d"])
    assert (second.env, second.pass_env, second.deny) == ([], [], [])


# A sample value for each kind of value an option takes.
SAMPLES = {
    "PATH": "p",
    "NAME": "N",
    "FILE": "f",
    "DIR": "d",
    "TEXT": "t",
    "NAME=VALUE": "A=b",
    "KIB": "8",
    "PASSES": "1",
    "LANES": "1",
    "TIME": "90s",
    "SIZE": "1K",
}


@pytest.mark.parametrize("sub", cli.COMMAND_LINE.subcommands.values(), ids=lambda sub: sub.name)
def test_every_option_with_a_value_takes_it_after_an_equals_sign(sub):
    positionals = [positional.metavar for positional in sub.positionals]
    for option in sub.options + cli.COMMAND_LINE.common:
        if option.switch:
            continue
        value = SAMPLES[option.metavar]
        spaced = parse([sub.name, *positionals, option.flag, value])
        joined = parse([sub.name, *positionals, f"{option.flag}={value}"])
        assert getattr(joined, option.dest) == getattr(spaced, option.dest), option.flag


@pytest.mark.parametrize(
    "argv, usage",
    [
        (["--help"], "usage: quillbox [options] COMMAND"),
        (["-h"], "usage: quillbox [options] COMMAND"),
        (["help"], "usage: quillbox [options] COMMAND"),
        (["help", "--help"], "usage: quillbox [options] COMMAND"),
        (["--vault", "v", "--help"], "usage: quillbox [options] COMMAND"),
        (["help", "run"], "usage: quillbox run"),
        (["--help", "run"], "usage: quillbox run"),
        (["-h", "delete"], "usage: quillbox delete"),
        (["run", "--help"], "usage: quillbox run"),
        (["--vault", "v", "run", "-h"], "usage: quillbox run"),
        (["delete", "KEY", "-h"], "usage: quillbox delete"),
        (["run", "echo hi", "--input", "x", "--help"], "usage: quillbox run"),
        (["--version"], "quillbox "),
        (["list", "--version"], "quillbox "),
    ],
)
def test_help_and_the_version_anywhere_before_the_options_end(argv, usage, capsys):
    code, out, err = exit_of(argv, capsys)
    assert (code, err) == (0, "")
    assert out.startswith(usage)


def test_the_help_shows_every_command_and_what_chooses_the_vault(capsys):
    _, out, _ = exit_of(["help"], capsys)
    for name in [*cli.COMMAND_LINE.subcommands, "help [COMMAND]", "QUILLBOX_VAULT", "--vault"]:
        assert f"\n  {name}" in out
    _, out, _ = exit_of(["help", "export"], capsys)
    assert "\n  --force " in out and "QUILLBOX_VAULT" in out


@pytest.mark.parametrize(
    "argv, shown",
    [
        ([], "quillbox: a COMMAND is needed"),
        (["--vault", "v"], "quillbox: a COMMAND is needed"),
        (["--", "--vault", "v", "list"], "quillbox: argument 2 is no COMMAND (one of init,"),
        (["lst"], "quillbox: argument 1 is no COMMAND (one of init, rekey, set, list,"),
        (["lst"], "; did you mean list?"),
        (["help", "nope"], "quillbox: argument 2 is no COMMAND"),
        (["help", "run", "list"], "quillbox: help takes one COMMAND at most"),
        # Options that are none of the command's, in either form.
        (["list", "-x"], "quillbox list: unknown option -x\n"),
        (["list", "--nope"], "quillbox list: unknown option --nope\n"),
        (["list", "--nope=1"], "quillbox list: unknown option --nope\n"),
        (["--nope", "list"], "quillbox: unknown option --nope\n"),
        (["list", "--jsno"], "quillbox list: unknown option --jsno; did you mean --json?\n"),
        (["--vualt", "v", "list"], "unknown option --vualt; did you mean --vault?\n"),
        (["-vault", "v", "list"], "argument 1 starts with - and is no option; did you mean --v"),
        (["--json", "list"], "quillbox: unknown option --json: an option of list, to give after"),
        (["list", "--overwrite"], "unknown option --overwrite: an option of import\n"),
        (
            ["delete", "-x"],
            "quillbox delete: unknown option -x; an argument that starts with - goes after --\n",
        ),
        (["export", "-backup"], "argument 2 starts with - and is no option; an argument that"),
        (["list", "--json=yes"], "quillbox list: --json takes no value\n"),
        (["list", "--vault"], "quillbox list: --vault needs a value: --vault PATH\n"),
        (["init", "--m-cost", "lots"], "quillbox init: --m-cost: expected a whole number"),
        # Arguments out of place, named by where they stand.
        (["list", "extra"], "quillbox list: argument 2 is one too many: list takes no arguments\n"),
        (["export", "a", "b"], "quillbox export: argument 3 is one too many: export takes PATH\n"),
        (["export", "--", "a", "--"], "quillbox export: argument 4 is one too many"),
        (["delete"], "quillbox delete: missing KEY\n"),
        (["list", "x\udcff"], "quillbox: argument 2 is not UTF-8 text"),
        # run: a command string, or an argument vector after --.
        (["run", "echo", "hi"], "argument 3 is one word too many: quote the command to give it"),
        (["run", "echo", "hi"], "or put -- before its words: quillbox run [options] -- PROGRAM"),
        (["run"], "takes either COMMAND or -- PROGRAM [ARG...], not both or neither"),
        (["run", "echo hi", "--", "ls"], "not both or neither"),
        (["run", "--"], "quillbox run: -- needs a PROGRAM\n"),
        (["--", "run"], "quillbox run: -- needs a PROGRAM\n"),
        (["run", "--clean-env", "--inherit-env", "true"], "--clean-env or --inherit-env, not both"),
        (["rekey", "--keep-passphrase", "--m-cost", "8", "--new-key-env", "N"], "not both"),
        (["rekey", "--keep-passphrase"], "give --m-cost, --t-cost or --p-cost\n"),
    ],
)
def test_a_usage_error_has_status_2_the_usage_and_one_line(argv, shown, capsys):
    code, out, err = exit_of(argv, capsys)
    assert (code, out) == (2, "")
    assert err.startswith("usage: quillbox")
    assert shown in err
    assert not err.split("\n")[-2].startswith(("usage", " "))


@pytest.mark.parametrize(
    "argv",
    [
        [SECRET, "list"],
        ["list", SECRET],
        ["run", "echo", SECRET],
        ["export", "backup.vault", SECRET],
        ["list", f"--nope={SECRET}"],
        ["run", "--env", SECRET, "--", "env"],
        [f"-{SECRET}", "list"],
        ["delete", f"-{SECRET}"],
        ["help", SECRET],
        ["list", f"{SECRET}\udcff"],
    ],
)
def test_a_word_that_could_be_a_value_is_never_repeated(argv, capsys):
    code, _, err = exit_of(argv, capsys)
    assert code == 2
    assert "5d1e9c3a" not in err
