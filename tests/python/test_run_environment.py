"""The environment `quillbox run` gives its command: the base set by default,
none with --clean-env, all but the passphrase with --inherit-env, and what
--pass-env, --env-file, the entries and --env add, in that order."""

from __future__ import annotations

import os
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import require_sandbox
from test_cli import PASSPHRASE, SECRET, quillbox

OTHER_SECRET = "other-9b2e7d41"
NO_PATH = "the command's environment has no PATH"
DEPLOYED = "mytool deploys with [REDACTED_API_TOKEN]\n"


@pytest.fixture
def vault(tmp_path: Path) -> tuple[str, str]:
    """The --vault option of a vault holding API_TOKEN and OTHER."""
    path = tmp_path / "store" / "vault.bin"
    assert quillbox("init", "--vault", str(path), "--m-cost", "8", "--t-cost", "1").returncode == 0
    for name, value in (("API_TOKEN", SECRET), ("OTHER", OTHER_SECRET)):
        assert quillbox("set", name, "--vault", str(path), stdin=value).returncode == 0
    return ("--vault", str(path))


def variables(env_output: str) -> dict[str, str]:
    return dict(line.split("=", 1) for line in env_output.splitlines())


@pytest.fixture
def deploy_script(tmp_path: Path) -> dict[str, str]:
    """./deploy.sh in the working folder, calling `mytool` by name, which lies in
    a folder of its own on quillbox's PATH; the variables quillbox runs with."""
    tools = tmp_path / "bin"
    tools.mkdir()
    for path, text in (
        (tools / "mytool", '#!/bin/sh\necho "mytool deploys with $1"\n'),
        (tmp_path / "deploy.sh", '#!/bin/sh\nmytool "$TOKEN"\n'),
    ):
        path.write_text(text)
        path.chmod(0o755)
    return {"PATH": f"{tools}:{os.environ['PATH']}"}


@pytest.mark.parametrize(
    "options, status, stdout, stderr_end",
    [
        ((), 0, DEPLOYED, ""),
        (
            ("--clean-env",),
            127,
            "",
            "mytool: not found\nquillbox: exit status 127, as for a program not found: "
            f"{NO_PATH} — drop --clean-env or add --env PATH=...\n",
        ),
        (("--clean-env", "--pass-env", "PATH"), 0, DEPLOYED, ""),
    ],
)
def test_a_script_finds_the_programs_it_calls_by_name(
    vault, tmp_path, deploy_script, options, status, stdout, stderr_end
):
    ran = quillbox(
        "run",
        *vault,
        *options,
        "--env",
        "TOKEN={{API_TOKEN}}",
        "--",
        "./deploy.sh",
        env_extra=deploy_script,
        cwd=tmp_path,
    )
    assert (ran.returncode, ran.stdout) == (status, stdout)
    assert ran.stderr.endswith(stderr_end)


def test_the_hint_comes_only_when_the_environment_has_no_path(vault, tmp_path):
    # Status 127 with a PATH is the command's own business.
    with_path = quillbox("run", *vault, "--", "sh", "-c", "exit 127")
    assert (with_path.returncode, with_path.stderr) == (127, "")
    # Without --clean-env, the PATH is missing from quillbox's own environment.
    environment = {name: value for name, value in os.environ.items() if name != "PATH"}
    ran = subprocess.run(
        [sys.executable, "-m", "quillbox", "run", *vault, "--", "/bin/sh", "-c", "mytool"],
        capture_output=True,
        text=True,
        env={**environment, "QUILLBOX_KEY": PASSPHRASE},
        timeout=120,
    )
    assert ran.returncode == 127
    assert ran.stderr.endswith(f"{NO_PATH} — add --env PATH=...\n")


def test_git_commit_finds_the_users_configuration(vault, tmp_path):
    home = tmp_path / "home"
    home.mkdir()
    (home / ".gitconfig").write_text("[user]\n\tname = Quill Box\n\temail = qb@example.test\n")
    repo = tmp_path / "repo"
    subprocess.run(["git", "init", "-q", str(repo)], check=True, env={"HOME": str(home)})
    (repo / "notes.txt").write_text("done\n")
    on_home = {"HOME": str(home)}
    added = quillbox("run", *vault, "--", "git", "add", "notes.txt", env_extra=on_home, cwd=repo)
    assert added.returncode == 0, added.stderr
    committed = quillbox(
        "run",
        *vault,
        "--",
        "git",
        "commit",
        "-q",
        "-m",
        "fix: it's done; really",
        env_extra=on_home,
        cwd=repo,
    )
    assert committed.returncode == 0, committed.stderr
    log = quillbox("run", *vault, "git log --format='%an <%ae>|%s'", env_extra=on_home, cwd=repo)
    assert log.stdout == "Quill Box <qb@example.test>|fix: it's done; really\n"


@pytest.mark.parametrize(
    "options, status", [((), 0), (("--inherit-env",), 0), (("--pass-env", "HOME"), 128)]
)
def test_git_in_a_sandbox_goes_on_without_the_home_it_cannot_reach(
    vault, tmp_path, home, options, status
):
    require_sandbox()
    (home / ".gitconfig").write_text("[user]\n\tname = Quill Box\n\temail = qb@example.test\n")
    subprocess.run(["git", "init", "-q", str(tmp_path / "repo")], check=True)
    identity = ("-c", "user.name=Agent", "-c", "user.email=agent@example.test")
    committed = quillbox(
        "run",
        *vault,
        "--sandbox",
        *options,
        "--",
        "git",
        *identity,
        "commit",
        "--allow-empty",
        "-qm",
        "work",
        env_extra={"HOME": str(home)},
        cwd=tmp_path / "repo",
    )
    assert committed.returncode == status, committed.stderr
    # A HOME given all the same names a configuration that git may not read, and dies on.
    assert ("Permission denied" in committed.stderr) == (status != 0)


@pytest.mark.parametrize("inherit", [False, True])
@pytest.mark.parametrize("key_env", ["QUILLBOX_KEY", "LC_SECRET"])
def test_no_passphrase_variable_reaches_the_command(vault, inherit, key_env):
    """With --key-env LC_SECRET, QUILLBOX_KEY holds another vault's passphrase."""
    host = {"MARKER": "{{API_TOKEN}} {{NOPE}}", "LC_MARKER": "{{bad-key"}
    if key_env == "LC_SECRET":
        host |= {"LC_SECRET": PASSPHRASE, "QUILLBOX_KEY": "another vault's passphrase"}
    shown = quillbox(
        "run",
        "--key-env",
        key_env,
        *vault,
        *(["--inherit-env"] if inherit else []),
        "--",
        "env",
        env_extra=host,
    )
    assert shown.returncode == 0, shown.stderr
    seen = variables(shown.stdout)
    assert not seen.keys() & {"QUILLBOX_KEY", "LC_SECRET"}
    assert PASSPHRASE not in shown.stdout
    # Values taken from quillbox's environment are never searched for placeholders.
    assert seen["LC_MARKER"] == "{{bad-key"
    assert seen.get("MARKER") == ("{{API_TOKEN}} {{NOPE}}" if inherit else None)
    assert seen["PATH"] == os.environ["PATH"]


@pytest.mark.parametrize(
    "options, seen",
    [
        (
            ("--env-entries",),
            {"API_TOKEN": "[REDACTED_API_TOKEN]", "OTHER": "[REDACTED_OTHER]"},
        ),
        (("--env-entry", "OTHER"), {"OTHER": "[REDACTED_OTHER]"}),
    ],
)
def test_entries_become_variables(vault, options, seen):
    shown = quillbox("run", *vault, "--clean-env", *options, "--", "env")
    assert (shown.returncode, variables(shown.stdout)) == (0, seen)


def test_each_source_wins_over_those_before_it(vault, tmp_path):
    (tmp_path / "first.env").write_text(
        "# base < --pass-env < --env-file\nTZ=first\nOVERRIDDEN=first\nA=first\nAPI_TOKEN=file\n"
    )
    (tmp_path / "second.env").write_text("export A=second\nB='{{OTHER}}'\n")
    host = {"TZ": "host", "PASSED": "{{NOPE}}", "OVERRIDDEN": "host"}
    shown = quillbox(
        "run",
        *vault,
        "--pass-env",
        "PASSED",
        "--pass-env",
        "OVERRIDDEN",
        "--env-file",
        "first.env",
        "--env-file",
        "second.env",
        "--env-entry",
        "API_TOKEN",
        "--env-entry",
        "OTHER",
        "--env",
        "OTHER=from --env",
        "--",
        "env",
        env_extra=host,
        cwd=tmp_path,
    )
    assert shown.returncode == 0, shown.stderr
    seen = variables(shown.stdout)
    chosen = {name: seen[name] for name in ("TZ", "PASSED", "OVERRIDDEN", "A", "B")}
    assert chosen == {
        "TZ": "first",
        "PASSED": "{{NOPE}}",
        "OVERRIDDEN": "first",
        "A": "second",
        "B": "[REDACTED_OTHER]",
    }
    assert (seen["API_TOKEN"], seen["OTHER"]) == ("[REDACTED_API_TOKEN]", "from --env")
    assert len(shown.stdout.splitlines()) == len(seen)  # one line for each name


@pytest.mark.parametrize(
    "options, key_env, status, message",
    [
        (
            ("--env-file", "bad.env"),
            "QUILLBOX_KEY",
            1,
            "quillbox: bad.env, line 2: the double quote is not closed on this line\n",
        ),
        (
            ("--env-file", "missing.env"),
            "QUILLBOX_KEY",
            1,
            "quillbox: --env-file missing.env: No such file or directory\n",
        ),
        (
            ("--env-entry", "NOPE"),
            "QUILLBOX_KEY",
            1,
            "exists in the vault. Use `quillbox set NOPE` to add it\n",
        ),
        (
            ("--pass-env", "QUILLBOX_KEY"),
            "LC_SECRET",
            1,
            "quillbox: --pass-env QUILLBOX_KEY would hand the master passphrase to the command "
            "— refused\n",
        ),
        (
            ("--pass-env", "LC_SECRET"),
            "LC_SECRET",
            1,
            "quillbox: --pass-env LC_SECRET would hand the master passphrase to the command "
            "— refused\n",
        ),
        (
            ("--clean-env", "--inherit-env"),
            "QUILLBOX_KEY",
            2,
            "quillbox run: takes --clean-env or --inherit-env, not both\n",
        ),
        (
            ("--env-entries", "--env-entry", "OTHER"),
            "QUILLBOX_KEY",
            2,
            "quillbox run: takes --env-entries (every entry) or --env-entry NAME, not both\n",
        ),
    ],
)
def test_a_refused_environment_runs_nothing(vault, tmp_path, options, key_env, status, message):
    (tmp_path / "bad.env").write_text(f'A=1\nTOKEN="{SECRET}\n')
    marker = tmp_path / "ran"
    refused = quillbox(
        "run",
        "--key-env",
        key_env,
        *vault,
        *options,
        "--",
        "touch",
        str(marker),
        env_extra={"LC_SECRET": PASSPHRASE},
        cwd=tmp_path,
    )
    assert (refused.returncode, refused.stdout) == (status, "")
    assert refused.stderr.endswith(message)
    assert len(refused.stderr.splitlines()) == (1 if status == 1 else 2)  # usage, then the line
    assert SECRET not in refused.stderr
    assert not marker.exists()
