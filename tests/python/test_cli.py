"""The `quillbox` command, run as a separate process like a user would."""

from __future__ import annotations

import base64
import contextlib
import hashlib
import json
import os
import random
import signal
import stat
import struct
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import read_entries, require_sandbox, unprivileged

PASSPHRASE = "a demo passphrase of some length"
SECRET = "sk-live-5d1e9c3a"


def quillbox(*arguments: str, stdin: str = "", env_extra=None, key=PASSPHRASE, cwd=None):
    env = {k: v for k, v in os.environ.items() if k != "QUILLBOX_KEY"}
    if key is not None:
        env["QUILLBOX_KEY"] = key
    env.update(env_extra or {})
    return subprocess.run(
        [sys.executable, "-m", "quillbox", *arguments],
        input=stdin,
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
        cwd=cwd,
    )


@pytest.fixture
def vault_file(tmp_path: Path) -> Path:
    path = tmp_path / "store" / "vault.bin"
    created = quillbox("init", "--vault", str(path), "--m-cost", "8", "--t-cost", "1")
    assert created.returncode == 0, created.stderr
    return path


def test_a_whole_session(vault_file: Path, tmp_path: Path):
    assert stat.S_IMODE(os.stat(vault_file).st_mode) == 0o600
    assert stat.S_IMODE(os.stat(vault_file.parent).st_mode) == 0o700
    vault = ("--vault", str(vault_file))

    assert quillbox("set", "API_TOKEN", *vault, stdin=SECRET + "\n").returncode == 0
    assert quillbox("set", "OTHER", *vault, stdin="x").returncode == 0
    assert quillbox("list", *vault).stdout == "API_TOKEN\nOTHER\n"

    encoded = base64.b64encode(SECRET.encode()).decode()
    run = quillbox("run", f"sh -c 'echo {{{{API_TOKEN}}}}; echo {encoded} >&2; exit 7'", *vault)
    assert run.stdout == "[REDACTED_API_TOKEN]\n"
    assert run.stderr == "[REDACTED_API_TOKEN_B64]\n"
    assert run.returncode == 7

    assert quillbox("delete", "OTHER", *vault).returncode == 0
    assert quillbox("list", *vault).stdout == "API_TOKEN\n"

    exported = tmp_path / "backup" / "export.bin"
    assert quillbox("export", str(exported), *vault).returncode == 0

    second = tmp_path / "second.bin"
    assert (
        quillbox(
            "init",
            "--vault",
            str(second),
            "--m-cost",
            "8",
            "--t-cost",
            "1",
            key="the second vault's passphrase",
        ).returncode
        == 0
    )
    under_its_own = quillbox(
        "import", str(exported), "--vault", str(second), key="the second vault's passphrase"
    )
    assert (under_its_own.returncode, under_its_own.stderr) == (
        1,
        "quillbox: vault error: vault header HMAC mismatch — the vault header may have been "
        "tampered with or corrupted; a wrong passphrase gives this too: a backup made under "
        "another passphrase than the vault's needs --import-key-env NAME\n",
    )
    imported = quillbox(
        "import",
        str(exported),
        "--vault",
        str(second),
        "--import-key-env",
        "FIRST_KEY",
        key="the second vault's passphrase",
        env_extra={"FIRST_KEY": PASSPHRASE},
    )
    assert imported.stdout == "1 added, 0 skipped, 0 replaced\n"
    shown = quillbox(
        "run", "echo {{API_TOKEN}}", "--vault", str(second), key="the second vault's passphrase"
    )
    assert shown.stdout == "[REDACTED_API_TOKEN]\n"


def test_set_keeps_the_newline_only_when_asked(vault_file: Path):
    vault = ("--vault", str(vault_file))
    quillbox("set", "A", *vault, stdin="first\n")
    quillbox("set", "B", "--keep-newline", *vault, stdin="second\n")
    assert quillbox("run", "printf '<%s>' first", *vault).stdout == "<[REDACTED_A]>"
    # With its newline kept, "second" alone is not the secret.
    assert quillbox("run", "printf '<%s>' second", *vault).stdout == "<second>"
    assert quillbox("run", "printf 'second\\n'", *vault).stdout == "[REDACTED_B]"


@pytest.mark.parametrize(
    "arguments, key, message",
    [
        (
            ("init",),
            "tooshort",
            "quillbox: the master passphrase is too short (8 characters) — use at least 12\n",
        ),
        (("init",), None, "quillbox: environment variable QUILLBOX_KEY is not set"),
        (("init",), PASSPHRASE, "quillbox: I/O error: a file already exists at"),
        (
            ("run", "echo {{NOPE}}"),
            PASSPHRASE,
            "quillbox: placeholder error: unresolved placeholder",
        ),
        (
            ("run", "echo a | b"),
            PASSPHRASE,
            "quillbox: tokenization error: rejected shell metacharacter '|'",
        ),
        (
            ("list",),
            "the wrong passphrase",
            "quillbox: vault error: vault header HMAC mismatch — the vault header may have been "
            "tampered with or corrupted; a wrong passphrase gives this too: check QUILLBOX_KEY\n",
        ),
        (
            ("set", "bad-name"),
            PASSPHRASE,
            'quillbox: invalid key name "bad-name" — key names must match [A-Za-z_][A-Za-z0-9_]* '
            "(start with a letter or underscore, contain only letters, digits, and underscores)\n",
        ),
        (
            ("set", "EMPTY"),
            PASSPHRASE,
            "quillbox: the value for EMPTY is empty (an unset variable piped in?) — nothing was "
            "stored; give --allow-empty to store an empty value\n",
        ),
        (
            ("rekey", "--new-key-env", "QUILLBOX_UNSET_NEW_KEY"),
            PASSPHRASE,
            "quillbox: environment variable QUILLBOX_UNSET_NEW_KEY is not set",
        ),
        (("rekey",), PASSPHRASE, "quillbox: give --new-key-env NAME"),
        (("delete", "NOPE"), PASSPHRASE, "quillbox: no entry named NOPE"),
    ],
)
def test_errors_are_one_line_with_status_1(vault_file: Path, arguments, key, message):
    result = quillbox(*arguments, "--vault", str(vault_file), key=key)
    assert result.returncode == 1
    assert result.stderr.startswith(message)
    assert result.stderr.count("\n") == 1
    assert "Traceback" not in result.stderr


@pytest.mark.parametrize(
    "arguments",
    [
        ("list", "--key-env"),
        ("rekey", "--new-key-env"),
        ("import", "backup.vault", "--import-key-env"),
    ],
)
def test_a_passphrase_given_for_a_variable_name_is_never_shown(vault_file: Path, arguments):
    passphrase = "my pass phrase"
    result = quillbox(*arguments, passphrase, "--vault", str(vault_file))
    assert result.returncode == 2
    assert f"{arguments[-1]}: not a variable name" in result.stderr
    assert passphrase not in result.stderr


def test_insecure_permissions_need_the_flag(vault_file: Path):
    vault_file.chmod(0o644)
    refused = quillbox("list", "--vault", str(vault_file))
    assert refused.returncode == 1
    assert "(mode 0o100644)" in refused.stderr
    allowed = quillbox("list", "--vault", str(vault_file), "--allow-insecure-permissions")
    assert allowed.returncode == 0


@pytest.mark.parametrize(
    "command, limit, status, stdout, stderr",
    [
        (
            "sleep 5",
            ("--timeout", "1"),
            124,
            "",
            "quillbox: the command was stopped after its timeout of 1 s\n",
        ),
        (
            "sh -c 'head -c 2000 /dev/zero; exec sleep 5'",
            ("--max-output-bytes", "1000"),
            124,
            "\0" * 1000,
            "quillbox: the command was stopped: its standard output passed --max-output-bytes "
            "(1000 bytes)\n",
        ),
        (
            "sh -c 'head -c 2000 /dev/zero >&2; exec sleep 5'",
            ("--max-stderr-bytes", "1K"),
            124,
            "",
            "\0" * 1024 + "quillbox: the command was stopped: its standard error passed "
            "--max-stderr-bytes (1 KiB)\n",
        ),
        # A command that exits with 124 itself, as GNU timeout does, hears nothing of limits.
        ("sh -c 'exit 124'", ("--timeout", "none"), 124, "", ""),
    ],
)
def test_a_stop_names_its_limit_and_is_passed_on(
    vault_file: Path, command, limit, status, stdout, stderr
):
    result = quillbox("run", command, *limit, "--vault", str(vault_file))
    assert (result.returncode, result.stdout, result.stderr) == (status, stdout, stderr)


def test_a_live_run_has_no_output_limit_unless_asked(vault_file: Path, tmp_path: Path):
    dump = tmp_path / "dump.sql"
    size = 60 * 1024 * 1024  # beyond what a captured run keeps by default
    with dump.open("wb") as destination:
        result = subprocess.run(
            [
                sys.executable,
                "-m",
                "quillbox",
                "run",
                "--vault",
                str(vault_file),
                "--",
                "head",
                "-c",
                str(size),
                "/dev/zero",
            ],
            stdout=destination,
            stderr=subprocess.PIPE,
            env={**os.environ, "QUILLBOX_KEY": PASSPHRASE},
            timeout=120,
        )
    assert (result.returncode, result.stderr, dump.stat().st_size) == (0, b"", size)


def test_set_file_keeps_a_key_whole_where_a_pipe_loses_its_newline(
    vault_file: Path, tmp_path: Path
):
    vault = ("--vault", str(vault_file))
    key = tmp_path / "id_ed25519"
    subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(key)], check=True)
    public_key = key.with_suffix(".pub").read_text().split()[:2]
    assert quillbox("set", "PIPED_KEY", *vault, stdin=key.read_text()).returncode == 0
    stored = quillbox("set", "DEPLOY_KEY", "--file", str(key), *vault)
    assert (stored.returncode, stored.stdout, stored.stderr) == (0, "stored DEPLOY_KEY\n", "")

    loaded = quillbox("run", *vault, "--", "ssh-keygen", "-y", "-f", "{{file:DEPLOY_KEY}}")
    assert (loaded.returncode, loaded.stdout.split()[:2]) == (0, public_key)
    # ssh-keygen reads a key without its final newline as damaged.
    assert quillbox("run", *vault, "--", "ssh-keygen", "-y", "-f", "{{file:PIPED_KEY}}").returncode


def test_set_warns_that_a_short_value_is_hidden_in_fewer_forms(vault_file: Path):
    vault = ("--vault", str(vault_file))
    short = quillbox("set", "PIN", *vault, stdin="4711")
    assert (short.returncode, short.stdout) == (0, "stored PIN\n")
    assert short.stderr.startswith("quillbox: warning: PIN is 4 bytes, under 8: ")
    assert "4711" not in short.stderr and short.stderr.count("\n") == 1
    assert quillbox("set", "LONGER", *vault, stdin="a longer value").stderr == ""


def test_run_takes_an_argument_vector_and_an_environment(vault_file: Path):
    vault = ("--vault", str(vault_file))
    assert quillbox("set", "API_TOKEN", *vault, stdin=SECRET).returncode == 0

    words = quillbox("run", *vault, "--", "printf", "%s|", "a b", "it's; $HOME", "{{API_TOKEN}}")
    assert (words.returncode, words.stdout) == (0, "a b|it's; $HOME|[REDACTED_API_TOKEN]|")

    script = 'echo "$T|$GREETING|$FROM_HOST|${HOME-no home}"'
    shown = quillbox(
        "run",
        *vault,
        "--env",
        "T=x{{API_TOKEN}}",
        "--env",
        "GREETING=a=b c",
        "--pass-env",
        "FROM_HOST",
        "--clean-env",
        "--",
        "sh",
        "-c",
        script,
        env_extra={"FROM_HOST": "kept", "HOME": "/home/someone"},
    )
    assert (shown.returncode, shown.stdout) == (0, "x[REDACTED_API_TOKEN]|a=b c|kept|no home\n")
    digest = hashlib.sha256(f"key={SECRET}".encode()).hexdigest()
    fed = quillbox("run", *vault, "--input", "key={{API_TOKEN}}", "--", "sha256sum")
    assert fed.stdout == f"{digest}  -\n"
    by_file = quillbox(
        "run",
        *vault,
        "--env",
        "F={{file:API_TOKEN}}",
        "--",
        "sh",
        "-c",
        'sha256sum "$F" {{file:API_TOKEN}}',
    )
    assert by_file.stdout.split()[::2] == [hashlib.sha256(SECRET.encode()).hexdigest()] * 2
    # One string, as before, with an environment too.
    line = quillbox("run", "sh -c 'echo $T'", "--env", "T={{API_TOKEN}}", *vault)
    assert line.stdout == "[REDACTED_API_TOKEN]\n"


@pytest.mark.parametrize(
    "arguments, status, message",
    [
        (
            ("--pass-env", "QUILLBOX_KEY", "--", "env"),
            1,
            "quillbox: --pass-env QUILLBOX_KEY would hand the master passphrase to the command "
            "— refused\n",
        ),
        (
            ("--pass-env", "QB_TEST_UNSET", "--", "env"),
            1,
            "quillbox: --pass-env QB_TEST_UNSET: no such variable in quillbox's environment\n",
        ),
        (
            ("--env", "=x", "--", "env"),
            1,
            'quillbox: spawn error: invalid environment variable name "" — a name must be '
            "non-empty and hold no '=', no NUL byte and no \"{{\"\n",
        ),
        (("--env", "NO_VALUE", "--", "env"), 2, None),
        (("echo a", "--", "echo", "b"), 2, None),
        (("--",), 2, None),
    ],
)
def test_run_refuses_bad_channels(vault_file: Path, arguments, status, message):
    result = quillbox("run", "--vault", str(vault_file), *arguments)
    assert result.returncode == status
    assert result.stdout == ""
    if message is not None:
        assert result.stderr == message


def test_run_starts_the_command_in_cwd(vault_file: Path, tmp_path: Path):
    (tmp_path / "work" / "sub").mkdir(parents=True)
    (tmp_path / "work" / "a-file").touch()
    vault = ("--vault", str(vault_file))
    started = quillbox("run", *vault, "--cwd", "sub", "--", "pwd", cwd=tmp_path / "work")
    assert (started.returncode, started.stdout) == (0, f"{tmp_path}/work/sub\n")
    for place, problem in (("nowhere", "No such file or directory"), ("a-file", "Not a directory")):
        refused = quillbox("run", *vault, "--cwd", place, "--", "pwd", cwd=tmp_path / "work")
        assert (refused.returncode, refused.stdout) == (1, "")
        assert refused.stderr.startswith(
            f'quillbox: spawn error: cannot start the command in "{place}": {problem}'
        )
        assert refused.stderr.count("\n") == 1


def test_version_is_the_installed_distribution_s():
    from importlib.metadata import version

    shown = quillbox("--version", key=None)
    assert (shown.returncode, shown.stdout) == (0, f"quillbox {version('quillbox')}\n")


def test_the_installed_command_answers_as_python_m_quillbox(vault_file: Path):
    """The package installs the `quillbox` script itself: started as a program,
    through its #! line, it is the same command."""
    installed = str(Path(sys.executable).with_name("quillbox"))
    env = {**os.environ, "QUILLBOX_KEY": PASSPHRASE}
    for arguments in (
        ["--version"],
        ["help", "run"],
        ["lisst"],
        ["run", "--vault", str(vault_file), "--", "printf", "ok"],
    ):
        by_script = subprocess.run([installed, *arguments], capture_output=True, text=True, env=env)
        by_module = quillbox(*arguments)
        assert (by_script.returncode, by_script.stdout, by_script.stderr) == (
            by_module.returncode,
            by_module.stdout,
            by_module.stderr,
        ), arguments


def test_usage_errors_have_status_2_and_every_subcommand_has_help():
    assert quillbox("frobnicate").returncode == 2
    assert quillbox("run").returncode == 2
    for subcommand in ("init", "set", "list", "delete", "export", "import", "run", "rekey"):
        shown = quillbox(subcommand, "--help")
        assert shown.returncode == 0
        assert (
            "example: quillbox" in shown.stdout.replace("\n", " ") or "| quillbox" in shown.stdout
        )


def test_init_refuses_costs_no_vault_could_be_opened_with(tmp_path: Path):
    path = tmp_path / "vault.bin"
    refused = quillbox("init", "--vault", str(path), "--m-cost", str(2**20 + 1), "--t-cost", "16")
    assert refused.returncode == 1
    assert refused.stderr == (
        "quillbox: I/O error: argon2 params error: memory cost times time cost is too large\n"
    )
    assert not path.exists()


def test_run_gives_the_command_none_of_the_descriptors_it_inherited(vault_file: Path):
    listing = [sys.executable, "-m", "quillbox", "run", "--vault", str(vault_file), "--"]
    listing += ["ls", "/proc/self/fd"]
    shell = f"exec 7<{vault_file}; ls /proc/self/fd; echo; exec {' '.join(listing)}"
    env = {**os.environ, "QUILLBOX_KEY": PASSPHRASE}
    shown = subprocess.run(
        ["sh", "-c", shell], capture_output=True, text=True, env=env, timeout=120
    )
    assert shown.returncode == 0, shown.stderr
    in_the_shell, in_the_command = shown.stdout.split("\n\n")
    assert "7" in in_the_shell.split()
    # ls holds one more of its own: the listed directory's.
    assert in_the_command.split() == ["0", "1", "2", "3"]


def test_run_passes_the_output_on_live_byte_for_byte(vault_file: Path):
    """Read through a pipe as a user's terminal or next program would: each line
    arrives as the command writes it, a secret split by a pause never shows,
    and bytes that are not text come through unchanged."""
    import time

    vault = ("--vault", str(vault_file))
    assert quillbox("set", "API_TOKEN", *vault, stdin=SECRET).returncode == 0
    script = (
        "date +%s.%N; printf 'half sk-live-5d'; sleep 2; printf '1e9c3a\\n'; "
        "printf '\\377\\000\\001end'; echo sk-live-5d1e9c3a >&2"
    )
    env = {k: v for k, v in os.environ.items() if k != "QUILLBOX_KEY"}
    env["QUILLBOX_KEY"] = PASSPHRASE
    with subprocess.Popen(
        [sys.executable, "-m", "quillbox", "run", *vault, "--", "sh", "-c", script],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env=env,
    ) as child:
        assert child.stdout is not None and child.stderr is not None
        written_at = float(child.stdout.readline())
        arrived_at = time.time()
        rest = child.stdout.read()
        errors = child.stderr.read()
    assert arrived_at - written_at < 0.5
    assert rest == b"half [REDACTED_API_TOKEN]\n\xff\x00\x01end"
    assert (child.returncode, errors) == (0, b"[REDACTED_API_TOKEN]\n")


def test_set_reads_a_value_as_a_newcomer_pipes_it_and_list_json_shows_names_only(
    vault_file: Path,
):
    vault = ("--vault", str(vault_file))
    # An empty value is taken only when asked for, however it came; a line's
    # end is dropped whichever system wrote it.
    for piped in ("", "\n", "\r\n"):
        assert quillbox("set", "EMPTY", *vault, stdin=piped).returncode == 1
    assert quillbox("set", "EMPTY", "--allow-empty", *vault, stdin="\n").returncode == 0
    assert quillbox("set", "CRLF", *vault, stdin=SECRET + "\r\n").returncode == 0
    assert quillbox("set", "KEPT", "--keep-newline", *vault, stdin="x\r\n").returncode == 0
    listed = quillbox("list", "--json", *vault)
    assert json.loads(listed.stdout) == ["EMPTY", "CRLF", "KEPT"]
    assert listed.stdout.count("\n") == 1 and SECRET not in listed.stdout
    shown = quillbox("run", *vault, "--", "printf", "<%s>", "{{EMPTY}}", "{{CRLF}}", "{{KEPT}}")
    assert shown.stdout == "<><[REDACTED_CRLF]><[REDACTED_KEPT]>"
    assert quillbox(
        "run", *vault, "--", "sh", "-c", 'printf %s "$1" | od -c', "sh", "{{KEPT}}"
    ).stdout.split()[1:4] == ["x", "\\r", "\\n"]


def test_rekey_changes_the_passphrase_and_the_costs_and_keeps_every_entry(vault_file: Path):
    vault = ("--vault", str(vault_file))
    assert quillbox("set", "API_TOKEN", *vault, stdin=SECRET).returncode == 0
    new_key = {"QUILLBOX_NEW": "a brand new passphrase"}
    rekeyed = quillbox(
        "rekey", *vault, "--new-key-env", "QUILLBOX_NEW", "--m-cost", "16", env_extra=new_key
    )
    assert (rekeyed.returncode, rekeyed.stdout) == (
        0,
        "the vault now takes the passphrase in QUILLBOX_NEW: from now on give --key-env "
        "QUILLBOX_NEW, or put the passphrase in QUILLBOX_KEY\n",
    )
    assert "HMAC mismatch" in quillbox("list", *vault).stderr
    listed = quillbox("list", *vault, "--key-env", "QUILLBOX_NEW", env_extra=new_key)
    assert listed.stdout == "API_TOKEN\n"
    assert read_entries(vault_file, "a brand new passphrase") == [("API_TOKEN", SECRET.encode())]
    assert struct.unpack_from("<III", vault_file.read_bytes(), 10) == (16, 1, 1)
    # The costs alone, the passphrase kept: the next command opens the vault as before.
    kept = quillbox(
        "rekey", *vault, "--keep-passphrase", "--t-cost", "2", key=new_key["QUILLBOX_NEW"]
    )
    assert (kept.returncode, kept.stdout) == (
        0,
        "the vault keeps its passphrase, under the new Argon2 costs\n",
    )
    assert struct.unpack_from("<III", vault_file.read_bytes(), 10) == (16, 2, 1)
    assert quillbox("list", *vault, key=new_key["QUILLBOX_NEW"]).stdout == "API_TOKEN\n"
    # The same minimum length as a new vault's, and nothing changes.
    before = vault_file.read_bytes()
    short = quillbox(
        "rekey",
        *vault,
        "--key-env",
        "QUILLBOX_NEW",
        "--new-key-env",
        "SHORT",
        env_extra={**new_key, "SHORT": "too short"},
    )
    assert short.returncode == 1 and "too short (9 characters)" in short.stderr
    assert vault_file.read_bytes() == before


REKEYER = """
import sys
from quillbox import Vault
with Vault("QUILLBOX_KEY", sys.argv[1]) as vault:
    print("ready", flush=True)
    vault.rekey("QUILLBOX_NEW", m_cost=8192)
"""
OTHER_PASSPHRASE = "a brand new passphrase"


def test_a_killed_rekey_leaves_the_old_vault_or_the_new_one(vault_file: Path):
    """Killed at random moments, a rekey from one passphrase to the other
    leaves a vault that exactly one of them opens, with the entry intact."""
    assert quillbox("set", "API_TOKEN", "--vault", str(vault_file), stdin=SECRET).returncode == 0
    rng = random.Random(20261211)
    current, other = PASSPHRASE, OTHER_PASSPHRASE
    for _ in range(12):
        env = {**os.environ, "QUILLBOX_KEY": current, "QUILLBOX_NEW": other}
        rekeyer = subprocess.Popen(
            [sys.executable, "-c", REKEYER, str(vault_file)], stdout=subprocess.PIPE, env=env
        )
        assert rekeyer.stdout is not None and rekeyer.stdout.readline() == b"ready\n"
        try:
            rekeyer.wait(timeout=rng.uniform(0.0, 0.1))
        except subprocess.TimeoutExpired:
            rekeyer.send_signal(signal.SIGKILL)
            rekeyer.wait()
        rekeyer.stdout.close()
        opened = []
        for passphrase in (current, other):
            with contextlib.suppress(Exception):
                opened.append((passphrase, read_entries(vault_file, passphrase)))
        assert [entries for _, entries in opened] == [[("API_TOKEN", SECRET.encode())]]
        if opened[0][0] == other:
            current, other = other, current


def on_a_terminal(arguments, typed_lines, env):
    """Runs quillbox with a pseudo-terminal as its controlling terminal, types
    each line once it is asked for, and returns the status and what the
    terminal showed."""
    import pty

    pid, terminal = pty.fork()
    if pid == 0:
        os.execve(sys.executable, [sys.executable, "-m", "quillbox", *arguments], env)
    shown = b""
    lines = list(typed_lines)
    while True:
        try:
            chunk = os.read(terminal, 1024)
        except OSError:
            break
        if not chunk:
            break
        shown += chunk
        # A prompt is written once the terminal is set up to read the answer;
        # typed earlier, the answer would be flushed away.
        if lines and shown.endswith(b": "):
            os.write(terminal, lines.pop(0).encode() + b"\n")
    os.close(terminal)
    _, status = os.waitpid(pid, 0)
    return os.waitstatus_to_exitcode(status), shown.decode(errors="replace")


def test_rekey_on_a_terminal_asks_twice_without_echo(vault_file: Path):
    env = {**os.environ, "QUILLBOX_KEY": PASSPHRASE}
    differ, shown = on_a_terminal(
        ["rekey", "--vault", str(vault_file)], [OTHER_PASSPHRASE, "something else"], env
    )
    assert differ == 1 and "the two passphrases differ — the vault is unchanged" in shown
    status, shown = on_a_terminal(
        ["rekey", "--vault", str(vault_file)], [OTHER_PASSPHRASE, OTHER_PASSPHRASE], env
    )
    assert status == 0, shown
    assert "New master passphrase: \r\nRepeat the passphrase: \r\n" in shown
    assert OTHER_PASSPHRASE not in shown
    assert "put it in QUILLBOX_KEY from now on" in shown
    assert read_entries(vault_file, OTHER_PASSPHRASE) == []


def without_key() -> dict[str, str]:
    return {name: value for name, value in os.environ.items() if name != "QUILLBOX_KEY"}


@pytest.mark.parametrize(
    "arguments, typed, status, shows",
    [
        (("list",), [PASSPHRASE], 0, "Master passphrase: \r\nAPI_TOKEN\r\n"),
        (("run", "echo {{API_TOKEN}}"), [PASSPHRASE], 0, "\r\n[REDACTED_API_TOKEN]\r\n"),
        (("delete", "API_TOKEN"), [PASSPHRASE], 0, "\r\ndeleted API_TOKEN\r\n"),
        # The passphrase first, the value last.
        (
            ("set", "OTHER"),
            [PASSPHRASE, "another value"],
            0,
            "Master passphrase: \r\nValue for OTHER: \r\nstored OTHER\r\n",
        ),
        (("export", "<tmp>/backup.vault"), [PASSPHRASE], 0, "\r\nexported to <tmp>/backup.vault"),
        (
            ("import", "<vault>", "--import-key-env", "BACKUP_KEY"),
            [PASSPHRASE, PASSPHRASE],
            0,
            "Master passphrase: \r\nThe backup's passphrase: \r\n0 added, 1 skipped, 0 replaced",
        ),
        (
            ("rekey", "--keep-passphrase", "--m-cost", "16"),
            [PASSPHRASE],
            0,
            "Master passphrase: \r\nthe vault keeps its passphrase",
        ),
        (("list",), ["\x04"], 1, "quillbox: nothing was typed — nothing was done\r\n"),
    ],
)
def test_a_command_on_a_terminal_asks_for_an_unset_passphrase_without_echo(
    vault_file: Path, tmp_path: Path, arguments, typed, status, shows
):
    assert quillbox("set", "API_TOKEN", "--vault", str(vault_file), stdin=SECRET).returncode == 0
    filled = [
        word.replace("<tmp>", str(tmp_path)).replace("<vault>", str(vault_file))
        for word in arguments
    ]
    ended, shown = on_a_terminal([*filled, "--vault", str(vault_file)], typed, without_key())
    assert ended == status, shown
    assert shows.replace("<tmp>", str(tmp_path)) in shown
    for line in typed:
        assert line not in shown


def test_init_on_a_terminal_puts_no_passphrase_on_a_command_line(tmp_path: Path):
    path = tmp_path / "vault.bin"
    status, shown = on_a_terminal(
        ["init", "--vault", str(path), "--m-cost", "8", "--t-cost", "1"],
        [PASSPHRASE, PASSPHRASE],
        without_key(),
    )
    assert status == 0, shown
    assert "to type it once for this shell, without echo and out of its history: read -rs " in (
        shown
    )
    assert "read -rs QUILLBOX_KEY; export QUILLBOX_KEY\r\n" in shown
    assert PASSPHRASE not in shown
    assert read_entries(path, PASSPHRASE) == []


def test_quillbox_vault_chooses_the_vault_where_no_vault_option_does(
    vault_file: Path, tmp_path: Path
):
    chosen = {"QUILLBOX_VAULT": str(vault_file)}
    assert quillbox("set", "API_TOKEN", stdin=SECRET, env_extra=chosen).returncode == 0
    assert quillbox("list", env_extra=chosen).stdout == "API_TOKEN\n"
    other = tmp_path / "other.bin"
    made = quillbox("init", "--vault", str(other), "--m-cost", "8", "--t-cost", "1")
    assert made.returncode == 0
    assert quillbox("list", "--vault", str(other), env_extra=chosen).stdout == ""
    empty = quillbox("list", env_extra={"QUILLBOX_VAULT": ""})
    assert (empty.returncode, empty.stderr) == (
        1,
        "quillbox: QUILLBOX_VAULT is empty — set it to the vault file's path, or unset it for "
        "the default vault\n",
    )


def test_export_replaces_no_file_unless_forced_and_names_the_folders_it_makes(
    vault_file: Path, tmp_path: Path
):
    vault = ("--vault", str(vault_file))
    notes = tmp_path / "notes.txt"
    notes.write_text("my notes\n")
    refused = quillbox("export", str(notes), *vault)
    assert (refused.returncode, refused.stdout, refused.stderr) == (
        1,
        "",
        f"quillbox: {notes} exists — give --force to replace it\n",
    )
    assert notes.read_text() == "my notes\n"
    assert quillbox("export", str(notes), "--force", *vault).returncode == 0
    assert read_entries(notes, PASSPHRASE) == []

    folder = tmp_path / "backups"
    folder.mkdir()
    for forced in ((), ("--force",)):
        into_folder = quillbox("export", str(folder), *forced, *vault)
        assert (into_folder.returncode, into_folder.stderr) == (
            1,
            f"quillbox: {folder} is a folder — name the backup file to write\n",
        )

    made = quillbox("export", "backups/2026/q1/team.vault", *vault, cwd=tmp_path)
    assert (made.returncode, made.stdout) == (
        0,
        "created the folders backups/2026 and backups/2026/q1 (mode 0700)\n"
        "exported to backups/2026/q1/team.vault\n",
    )
    beside = quillbox("export", "backups/2026/q1/other.vault", *vault, cwd=tmp_path)
    assert beside.stdout == "exported to backups/2026/q1/other.vault\n"


@pytest.mark.parametrize(
    "arguments",
    [
        ("import", "{tmp}/missing.vault"),
        ("set", "KEY", "--file", "{tmp}/missing.key"),
        ("run", "--env-file", "{tmp}/missing.env", "--", "true"),
    ],
)
def test_a_file_that_cannot_be_read_is_named(vault_file: Path, tmp_path: Path, arguments):
    filled = [word.format(tmp=tmp_path) for word in arguments]
    failed = quillbox(*filled, "--vault", str(vault_file))
    assert failed.returncode == 1
    assert f"{tmp_path}/missing." in failed.stderr
    assert "No such file or directory" in failed.stderr
    assert failed.stderr.count("\n") == 1


def test_list_into_a_pipe_nobody_reads_ends_quietly_as_in_a_pipeline(vault_file: Path):
    assert quillbox("set", "API_TOKEN", "--vault", str(vault_file), stdin=SECRET).returncode == 0
    read_end, write_end = os.pipe()
    os.close(read_end)
    with os.fdopen(write_end, "wb") as unread:
        listed = subprocess.run(
            [sys.executable, "-m", "quillbox", "list", "--vault", str(vault_file)],
            stdout=unread,
            stderr=subprocess.PIPE,
            env={**os.environ, "QUILLBOX_KEY": PASSPHRASE},
            timeout=120,
        )
    assert (listed.returncode, listed.stderr) == (128 + signal.SIGPIPE, b"")


def test_a_fault_of_the_program_shows_its_traceback(monkeypatch: pytest.MonkeyPatch):
    """Only quillbox's own errors become one line: a TypeError is a fault to fix."""
    from quillbox import cli

    def faulty(args):
        raise TypeError("a fault of the program")

    monkeypatch.setattr(cli.COMMAND_LINE.subcommands["list"], "handler", faulty)
    with pytest.raises(TypeError, match="a fault of the program"):
        cli.main(["list", "--vault", "unused.vault"])


def test_a_reader_that_goes_away_ends_the_command_as_in_a_shell_pipeline(vault_file: Path):
    """`quillbox run -- yes | head -2`: once the reader is gone, the command
    dies of SIGPIPE as it would in the pipeline itself, rather than meeting
    failed writes and complaining of them."""
    env = {**os.environ, "QUILLBOX_KEY": PASSPHRASE}
    quillbox_run = subprocess.Popen(
        [sys.executable, "-m", "quillbox", "run", "--vault", str(vault_file), "--", "yes"],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        env=env,
    )
    assert quillbox_run.stdout is not None and quillbox_run.stderr is not None
    assert quillbox_run.stdout.read(4) == b"y\ny\n"
    quillbox_run.stdout.close()
    assert quillbox_run.wait(timeout=60) == 128 + signal.SIGPIPE
    assert quillbox_run.stderr.read() == b""
    quillbox_run.stderr.close()


def test_run_in_a_sandbox_reaches_its_workspace_and_not_the_vault(vault_file: Path, tmp_path: Path):
    require_sandbox()
    (tmp_path / "work").mkdir()
    (tmp_path / "backup.vault").write_bytes(vault_file.read_bytes())
    (tmp_path / "notes").write_text("notes\n")
    vault = ("--vault", str(vault_file))
    sandboxed = ("--sandbox", "--deny", str(tmp_path / "backup.vault"))
    for command, status in [
        ("echo made > made && cat made", 0),
        (f"cat {tmp_path}/notes", 0),
        (f"cat {vault_file}", 1),
        (f"cat {tmp_path}/backup.vault", 1),
    ]:
        ran = quillbox("run", *vault, *sandboxed, "--", "sh", "-c", command, cwd=tmp_path / "work")
        assert ran.returncode == status, (command, ran.stderr)
    allowed = quillbox(
        "run",
        *vault,
        "--sandbox",
        "--allow-read",
        str(tmp_path / "missing"),
        "--",
        "true",
        cwd=tmp_path / "work",
    )
    assert (allowed.returncode, allowed.stderr) == (
        1,
        f'quillbox: sandbox error: cannot allow "{tmp_path}/missing" to a sandboxed command: '
        "No such file or directory (os error 2)\n",
    )


@pytest.mark.parametrize(
    "arguments",
    [
        ("run", "--deny", "/srv", "--", "true"),
        ("run", "--allow-write", "/srv", "--", "true"),
        ("mcp", "--no-sandbox", "--allow-read", "/srv"),
    ],
)
def test_sandbox_paths_without_a_sandbox_are_refused(vault_file: Path, arguments):
    refused = quillbox(arguments[0], "--vault", str(vault_file), *arguments[1:])
    assert refused.returncode == 1
    assert refused.stderr.startswith("quillbox: --allow-read, --allow-write and --deny shape")


def test_refused_memory_locks_are_told_in_one_line_by_the_command_and_each_by_the_api(
    vault_file: Path,
):
    # Without CAP_IPC_LOCK and with no locked memory allowed, every lock is refused.
    no_locks = ["prlimit", "--memlock=0:0", *unprivileged()]
    vault = ("--vault", str(vault_file))
    for name in ("API_TOKEN", "OTHER_TOKEN"):
        assert quillbox("set", name, *vault, stdin=SECRET + name).returncode == 0
    command = subprocess.run(
        [*no_locks, sys.executable, "-m", "quillbox", "run", *vault, "--", "true"],
        capture_output=True,
        text=True,
        env={**os.environ, "QUILLBOX_KEY": PASSPHRASE},
        timeout=60,
    )
    assert command.returncode == 0
    assert command.stderr.startswith("quillbox: warning: the system refused to lock ")
    assert command.stderr.count("\n") == 1
    api = subprocess.run(
        [
            *no_locks,
            sys.executable,
            "-c",
            f"import quillbox; quillbox.Vault('QUILLBOX_KEY', {str(vault_file)!r}).list_keys()",
        ],
        capture_output=True,
        text=True,
        env={**os.environ, "QUILLBOX_KEY": PASSPHRASE},
        timeout=60,
    )
    lines = api.stderr.splitlines()
    assert len(lines) > 1
    assert all(line.startswith("[quillbox] WARNING: mlock(") for line in lines)


def test_import_env_stores_a_dotenv_file_through_one_save(vault_file: Path, tmp_path: Path):
    vault = ("--vault", str(vault_file))
    dotenv = tmp_path / ".env"
    dotenv.write_text(
        "# the service's secrets\n"
        "export API_TOKEN=sk-live-5d1e9c3a\n"
        "DB_PASSWORD='p@ss w0rd#1'  # quoted, kept as written\n"
        'PIN="4711"\n'
    )
    imported = quillbox("import-env", str(dotenv), *vault)
    assert (imported.returncode, imported.stdout) == (0, f"stored 3 entries from {dotenv}\n")
    assert imported.stderr.startswith("quillbox: warning: PIN is 4 bytes, under 8: ")
    assert imported.stderr.count("\n") == 1
    assert quillbox("list", *vault).stdout == "API_TOKEN\nDB_PASSWORD\nPIN\n"
    shown = quillbox("run", *vault, "--", "printf", "%s|%s", "sk-live-5d1e9c3a", "p@ss w0rd#1")
    assert shown.stdout == "[REDACTED_API_TOKEN]|[REDACTED_DB_PASSWORD]"

    dotenv.write_text("EMPTY=\n")
    refused = quillbox("import-env", str(dotenv), *vault)
    assert (refused.returncode, refused.stderr) == (
        1,
        f"quillbox: EMPTY is empty in {dotenv} — nothing was stored; give --allow-empty to "
        "store empty values\n",
    )
