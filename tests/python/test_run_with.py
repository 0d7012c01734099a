"""Vault.run_with: argument vectors and an environment of the child's own,
through the same pipeline as Vault.run."""

from __future__ import annotations

import hashlib
import os
import random
import re
import string
import subprocess
import time

import pytest
from conftest import KEY_ENV
from quillbox import CommandError, PlaceholderError, TokenizationError, Vault

TOKEN = "tok-3f9a1c77e2"


def run_in_background(vault, command, **options):
    """Vault.run_with on a thread of its own; the result once it is joined. The
    thread is a daemon, so that a test that fails while it runs cannot leave it
    holding up the end of the test run."""
    import threading

    outcome = {}
    thread = threading.Thread(
        target=lambda: outcome.setdefault("result", vault.run_with(command, **options)),
        daemon=True,
    )
    thread.start()
    return thread, outcome


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
KEY_RULE = (
    "key names must match [A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain "
    "only letters, digits, and underscores)"
)
BRACES_HINT = "braces of a template pass through when a space follows {{, as in {{ end }}"


@pytest.mark.parametrize(
    "command, env, error, message",
    [
        # Nothing was tokenized: what to start is refused.
        (
            [],
            None,
            CommandError,
            "spawn error: argument vector is empty — nothing to execute",
        ),
        (
            ["env"],
            {"": "x"},
            CommandError,
            f'spawn error: invalid environment variable name "" — {NAME_RULE}',
        ),
        (
            ["env"],
            {"A=B": "x"},
            CommandError,
            f'spawn error: invalid environment variable name "A=B" — {NAME_RULE}',
        ),
        (
            ["env"],
            {"A\0B": "x"},
            CommandError,
            f'spawn error: invalid environment variable name "A\\0B" — {NAME_RULE}',
        ),
        (
            ["env"],
            {"{{API_TOKEN}}": "x"},
            CommandError,
            'spawn error: invalid environment variable name "{{API_TOKEN}}" — ' + NAME_RULE,
        ),
        (
            ["env"],
            {"T": "{{bad-key}}"},
            PlaceholderError,
            f"placeholder error: invalid placeholder key name in {{{{bad-key}}}} — {KEY_RULE} — "
            + BRACES_HINT,
        ),
        # Every word and name is checked before any key is looked up.
        (
            ["echo", "{{NOPE}}"],
            {"T": "{{bad-key}}"},
            PlaceholderError,
            f"placeholder error: invalid placeholder key name in {{{{bad-key}}}} — {KEY_RULE} — "
            + BRACES_HINT,
        ),
        (
            ["env"],
            {"T": "{{NOPE}}"},
            PlaceholderError,
            "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
            "exists in the vault. Use `quillbox set NOPE` to add it",
        ),
        (42, None, TypeError, "argument 'command': expected str or a sequence of str, got int"),
        (
            b"echo",
            None,
            TypeError,
            "argument 'command': expected str or a sequence of str, got bytes",
        ),
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
        (
            "{{NOPE}}",
            PlaceholderError,
            "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
            "exists in the vault. Use `quillbox set NOPE` to add it",
        ),
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


def test_a_base_environment_passes_as_it_stands_under_env(vault):
    base = {"KEPT": "{{NOPE}} {{API_TOKEN}} {{bad-key", "SHARED": "from the base", "EMPTY": ""}
    result = vault.run_with(["env"], base_env=base, env={"SHARED": "{{DB_PASSWORD}}", "B": "2"})
    # The placeholder's value in KEPT is never filled in, so nothing there is redacted.
    assert result.stdout == (
        "KEPT={{NOPE}} {{API_TOKEN}} {{bad-key\nEMPTY=\nSHARED=[REDACTED_DB_PASSWORD]\nB=2\n"
    )
    assert vault.run_with(["env"], base_env={"A": "1"}).stdout == "A=1\n"


@pytest.mark.parametrize(
    "base_env, error, message",
    [
        (
            {"": "x"},
            CommandError,
            f'spawn error: invalid environment variable name "" — {NAME_RULE}',
        ),
        (
            {"A=B": "x"},
            CommandError,
            f'spawn error: invalid environment variable name "A=B" — {NAME_RULE}',
        ),
        (
            {"OK": "1", "A\0B": "x"},
            CommandError,
            f'spawn error: invalid environment variable name "A\\0B" — {NAME_RULE}',
        ),
        (
            {"{{API_TOKEN}}": "x"},
            CommandError,
            'spawn error: invalid environment variable name "{{API_TOKEN}}" — ' + NAME_RULE,
        ),
        (
            ["A=1"],
            TypeError,
            "argument 'base_env': expected a mapping of str to str, got list",
        ),
        ({"A": b"1"}, TypeError, "argument 'base_env': expected str, got bytes"),
    ],
)
def test_a_bad_base_environment_is_refused_before_any_key_is_looked_up(
    vault, base_env, error, message
):
    with pytest.raises(error) as raised:
        vault.run_with(["env"], env={"T": "{{NOPE}}"}, base_env=base_env)
    assert type(raised.value) is error
    assert str(raised.value) == message


def test_a_file_placeholder_names_a_file_of_the_runs_own_in_memory(vault):
    digest = hashlib.sha256(TOKEN.encode()).hexdigest()
    by_argument = vault.run_with(["sha256sum", "{{file:API_TOKEN}}"])
    checksum, path = by_argument.stdout.split()
    assert checksum == digest
    # Named after its key, in a folder of this run's own, gone with the run.
    folder, name = os.path.split(path)
    assert name == "API_TOKEN"
    assert re.fullmatch(rf"quillbox-{os.getpid()}-[A-Za-z0-9]{{6}}", os.path.basename(folder))
    assert not os.path.exists(folder)
    # The same key names one file, in an argument and in the environment: its
    # owner's alone to read, in a folder that is its owner's alone, on a file
    # system that lives in memory.
    script = 'test "$1" = "$F" || exit 9; sha256sum <"$F"; stat -c "%a %u" "$F" "${F%/*}"; '
    script += 'stat -f -c %T "$F"'
    result = vault.run_with(
        ["sh", "-c", script, "sh", "{{file:API_TOKEN}}"], env={"F": "{{file:API_TOKEN}}"}
    )
    assert result.exit_code == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[:3] == [f"{digest}  -", f"400 {os.geteuid()}", f"700 {os.geteuid()}"]
    assert lines[3] in ("tmpfs", "ramfs")
    # Another file placeholder in the same command gets a file of its own.
    both = vault.run_with(["cat", "{{file:API_TOKEN}}", "{{file:DB_PASSWORD}}"])
    assert both.stdout == "[REDACTED_API_TOKEN][REDACTED_DB_PASSWORD]"


def test_a_program_that_insists_on_a_private_key_file_takes_it(vault, tmp_path):
    key = tmp_path / "deploy_key"
    subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(key)], check=True)
    vault.set("DEPLOY_KEY", bytearray(key.read_bytes()))
    derived = vault.run_with(["ssh-keygen", "-y", "-f", "{{file:DEPLOY_KEY}}"])
    assert (derived.exit_code, derived.stderr) == (0, "")
    assert derived.stdout.split()[:2] == key.with_suffix(".pub").read_text().split()[:2]


# Prints the descriptors of the process that name a run's secret file.
LIST_SECRET_FILES = (
    "import os\n"
    "for fd in sorted(os.listdir('/proc/self/fd')):\n"
    "    try: target = os.readlink('/proc/self/fd/' + fd)\n"
    "    except OSError: continue\n"
    "    if '/quillbox-' in target: print(fd, target)\n"
)


def test_no_child_holds_a_descriptor_of_a_runs_file(vault, tmp_path):
    lister = tmp_path / "list_secret_files.py"
    lister.write_text(LIST_SECRET_FILES)
    before = set(os.listdir("/proc/self/fd"))
    # While one run holds a file, a run started beside it, even one that keeps
    # the host's inheritable descriptors, holds none.
    holder, _ = run_in_background(vault, ["sh", "-c", "sleep 1", "{{file:API_TOKEN}}"])
    try:
        beside = vault.run(f"sh -c 'sleep 0.3; python3 {lister}'")
    finally:
        holder.join(timeout=60)
    assert beside.stdout == ""
    # The child that names it opens it by its path; it inherits none.
    named = vault.run_with(["python3", str(lister), "{{file:API_TOKEN}}"])
    assert named.stdout == ""
    assert set(os.listdir("/proc/self/fd")) == before


def test_the_file_lasts_until_the_child_ends_and_not_beyond(vault, tmp_path):
    """A program that closes every descriptor it inherited still reads the
    file by its path, late in its run; a descendant left behind when the
    child ends finds it gone."""
    late = "import os, sys, time; os.closerange(3, 4096); time.sleep(0.3); "
    late += "print(open(sys.argv[1]).read())"
    read_late = vault.run_with(["python3", "-c", late, "{{file:API_TOKEN}}"])
    assert (read_late.exit_code, read_late.stdout) == (0, "[REDACTED_API_TOKEN]\n")
    found, error = tmp_path / "found", tmp_path / "error"
    left_behind = '(sleep 0.3; cat "$0" >"$1" 2>"$2") </dev/null >/dev/null 2>&1 &'
    vault.run_with(["sh", "-c", left_behind, "{{file:API_TOKEN}}", str(found), str(error)])
    deadline = time.monotonic() + 10
    while not error.exists() or not error.read_text():
        assert time.monotonic() < deadline
        time.sleep(0.05)
    assert found.read_text() == ""
    assert "No such file or directory" in error.read_text()


# Prints the numbers of the child's open descriptors; it opens none.
LIST_OPEN_DESCRIPTORS = (
    "import os\n"
    "def is_open(fd):\n"
    "    try: os.fstat(fd)\n"
    "    except OSError: return False\n"
    "    return True\n"
    "print(*[fd for fd in range(1024) if is_open(fd)])\n"
)


@pytest.fixture
def inheritable_descriptors(tmp_path):
    """Descriptors that a child of this process would inherit, as a test
    harness's pipes or a shell's `exec 7<file` are: one low, as the first free
    number, and one high."""
    held = tmp_path / "held-open"
    held.write_text("not for the child")
    low = os.open(held, os.O_RDONLY)
    os.set_inheritable(low, True)
    high = os.dup2(low, 300, inheritable=True)
    yield {low, high}
    os.close(low)
    os.close(high)


def test_run_with_gives_the_child_no_descriptor_but_its_streams(vault, inheritable_descriptors):
    for files in ([], ["{{file:API_TOKEN}}"], ["{{file:API_TOKEN}}", "{{file:DB_PASSWORD}}"]):
        result = vault.run_with(["python3", "-c", LIST_OPEN_DESCRIPTORS, *files])
        assert result.exit_code == 0, result.stderr
        assert result.stdout.split() == ["0", "1", "2"], files


def test_run_leaves_the_child_the_hosts_inheritable_descriptors(vault, inheritable_descriptors):
    result = vault.run("ls /proc/self/fd")
    assert result.exit_code == 0, result.stderr
    assert inheritable_descriptors <= {int(fd) for fd in result.stdout.split()}


@pytest.mark.parametrize(
    "word, error, message",
    [
        (
            "{{file:NOPE}}",
            PlaceholderError,
            "placeholder error: unresolved placeholder {{{key}}} — no entry with that name "
            "exists in the vault. Use `quillbox set NOPE` to add it",
        ),
        (
            "{{file:bad-key}}",
            PlaceholderError,
            "placeholder error: invalid placeholder key name in {{file:bad-key}} — "
            f"{KEY_RULE} — {BRACES_HINT}",
        ),
        (
            "{{files:API_TOKEN}}",
            PlaceholderError,
            "placeholder error: invalid placeholder key name in {{files:API_TOKEN}} — "
            f"{KEY_RULE} — {BRACES_HINT}",
        ),
    ],
)
def test_bad_file_placeholders_are_refused(vault, word, error, message):
    with pytest.raises(error) as raised:
        vault.run_with(["cat", word])
    assert str(raised.value) == message


def test_run_keeps_file_placeholders_an_invalid_key(vault):
    with pytest.raises(TokenizationError) as raised:
        vault.run("cat {{file:API_TOKEN}}")
    assert str(raised.value).startswith(
        "tokenization error: invalid placeholder key name in {{file:API_TOKEN}} — "
    )


def test_live_output_arrives_as_the_child_writes_it(vault):
    read_end, write_end = os.pipe()
    started = time.monotonic()
    script = (
        "echo first line; printf 'half: tok-3f9a'; sleep 2; "
        "printf '1c77e2 done\\n'; echo {{API_TOKEN}} >&2"
    )
    thread, outcome = run_in_background(vault, ["sh", "-c", script], stdout=write_end)
    with os.fdopen(read_end, "rb") as reader:
        first = reader.readline()
        first_at = time.monotonic() - started
        # The first half of the secret is held back until the second settles it.
        rest = reader.read1(4096)
        thread.join(timeout=60)
        os.close(write_end)
        rest += reader.read()
    assert first == b"first line\n" and first_at < 0.5
    assert rest == b"half: [REDACTED_API_TOKEN] done\n"
    result = outcome["result"]
    assert (result.stdout, result.stderr, result.exit_code) == ("", "[REDACTED_API_TOKEN]\n", 0)


def test_live_output_is_binary_safe_and_joins_to_the_captured_text(vault, tmp_path):
    binary = bytes(range(256)) * 64 + b"\xff\xfe tok-3f9a1c77e2 \x00"
    with open(tmp_path / "out", "wb") as out, open(tmp_path / "err", "wb") as err:
        result = vault.run_with(
            ["sh", "-c", "cat; cat >&2 </dev/null"], input=binary, stdout=out, stderr=err.fileno()
        )
    assert (result.stdout, result.stderr) == ("", "")
    expected = binary.replace(b"tok-3f9a1c77e2", b"[REDACTED_API_TOKEN]")
    assert (tmp_path / "out").read_bytes() == expected
    text = "t\u00e9xt {{API_TOKEN}} hunter2! x" * 1000
    captured = vault.run_with(["cat"], input=text)
    with open(tmp_path / "live", "wb") as live:
        vault.run_with(["cat"], input=text, stdout=live)
    assert (tmp_path / "live").read_bytes().decode() == captured.stdout


def test_live_output_keeps_the_limits_and_the_deadline(vault, tmp_path):
    # A child that writes on and on: one that wrote its all into the pipe and
    # ended before the overrun was read would keep its own exit status.
    with open(tmp_path / "out", "wb") as out:
        over = vault.run_with(["yes"], stdout=out, max_output_bytes=1000)
    assert (over.exit_code, over.stopped_by) == (124, "stdout limit")
    assert (tmp_path / "out").read_bytes() == b"y\n" * 500
    with open(tmp_path / "out", "wb") as out:
        late = vault.run_with(
            ["sh", "-c", "echo {{API_TOKEN}}; sleep 5"], stdout=out, timeout_secs=1
        )
    assert late.timed_out
    assert (tmp_path / "out").read_bytes() == b"[REDACTED_API_TOKEN]\n"


def test_none_lifts_a_limit_of_run_with_alone(vault, tmp_path):
    beyond_the_defaults = 60 * 1024 * 1024 + 1
    with open(tmp_path / "out", "wb") as out:
        unlimited = vault.run_with(
            ["head", "-c", str(beyond_the_defaults), "/dev/zero"],
            stdout=out,
            timeout_secs=None,
            max_output_bytes=None,
            max_stderr_bytes=None,
        )
    assert (unlimited.exit_code, unlimited.stopped_by) == (0, None)
    assert (tmp_path / "out").stat().st_size == beyond_the_defaults
    with pytest.raises(TypeError, match="argument 'timeout_secs'"):
        vault.run("true", timeout_secs=None)


@pytest.mark.parametrize(
    "destination, error, message",
    [
        (
            "out.txt",
            TypeError,
            "argument 'stdout': expected None, a file descriptor or an object with fileno(), "
            "got str",
        ),
        (-1, ValueError, "argument 'stdout': descriptor -1 is not open for writing"),
        (9999, ValueError, "argument 'stdout': descriptor 9999 is not open for writing"),
    ],
)
def test_bad_destinations_are_refused(vault, destination, error, message):
    with pytest.raises(error) as raised:
        vault.run_with(["true"], stdout=destination)
    assert str(raised.value) == message


def test_a_destination_open_only_for_reading_is_refused(vault, tmp_path):
    (tmp_path / "f").write_bytes(b"")
    with open(tmp_path / "f", "rb") as readable:
        with pytest.raises(ValueError) as raised:
            vault.run_with(["true"], stderr=readable)
        assert str(raised.value) == (
            f"argument 'stderr': descriptor {readable.fileno()} is not open for writing"
        )


# Run by another user without capabilities: what it can learn of a running
# command, named by its process id, and of its secret file, named by its path.
OTHER_USER = r"""
import errno, sys

pid, file = sys.argv[1], sys.argv[2]
for name, path in (("cmdline", f"/proc/{pid}/cmdline"), ("environ", f"/proc/{pid}/environ"),
                   ("file", file)):
    try:
        with open(path, "rb") as target:
            print(name, "read", target.read().hex())
    except OSError as error:
        print(name, errno.errorcode[error.errno])
"""


@pytest.mark.skipif(os.geteuid() != 0, reason="switching to another user needs root")
def test_another_user_reads_neither_the_environment_nor_the_file(vault, tmp_path):
    import shutil

    tmp_path.chmod(0o755)
    where = tmp_path / "where"
    script = 'echo $$ "$F" > "$0.tmp" && mv "$0.tmp" "$0"; sleep 2'
    command, _ = run_in_background(
        vault,
        ["sh", "-c", script, str(where)],
        env={"T": "{{API_TOKEN}}", "F": "{{file:API_TOKEN}}"},
    )
    try:
        for _ in range(100):
            if where.exists():
                break
            time.sleep(0.02)
        pid, file = where.read_text().split()
        setpriv = shutil.which("setpriv")
        assert setpriv is not None
        seen = subprocess.run(
            [
                setpriv,
                "--reuid=61004",
                "--regid=61004",
                "--clear-groups",
                "--bounding-set=-all",
                "--inh-caps=-all",
                "/usr/bin/python3",
                "-c",
                OTHER_USER,
                pid,
                file,
            ],
            capture_output=True,
            text=True,
            check=True,
        ).stdout.splitlines()
    finally:
        command.join(timeout=60)
    # The argument vector is public, and holds no secret here; the environment
    # and the file are the command's user's alone.
    assert seen[0].startswith("cmdline read ")
    assert TOKEN.encode().hex() not in seen[0]
    assert seen[1:] == ["environ EACCES", "file EACCES"]


def long_value_cases():
    rng = random.Random(29)
    alphabet = (string.ascii_letters + string.digits).encode()
    # Letters and digits only, so that most of its encoded forms are the value itself.
    mebibyte = bytes(rng.choice(alphabet) for _ in range(1 << 20))
    nearly_xs = b"x" * 8191 + b"y"
    return [
        pytest.param(mebibyte, (mebibyte[:4096] + b"\n") * 100, id="head-printed-100-times"),
        pytest.param(nearly_xs, b"x" * (256 << 10), id="nearly-everywhere"),
    ]


@pytest.mark.parametrize("live", [False, True], ids=["captured", "live"])
@pytest.mark.parametrize(("value", "pieces"), long_value_cases())
def test_output_that_nearly_holds_a_long_value_is_redacted_within_the_timeout(
    make_vault, tmp_path, value, pieces, live
):
    """Output holding a long value's head at many starts, then the value whole:
    every start is checked and the run still ends well within its timeout,
    with the value replaced and the rest as it was."""
    output = tmp_path / "output"
    output.write_bytes(pieces + b"\n" + value + b"\n")
    expected = pieces + b"\n[REDACTED_LONG]\n"
    with Vault(KEY_ENV, str(make_vault([("LONG", value)]))) as vault:
        if live:
            with open(tmp_path / "live", "wb") as destination:
                result = vault.run_with(["cat", str(output)], stdout=destination, timeout_secs=3)
            passed_on = (tmp_path / "live").read_bytes()
        else:
            result = vault.run_with(["cat", str(output)], timeout_secs=3)
            passed_on = result.stdout.encode()
    assert (result.timed_out, result.exit_code) == (False, 0)
    assert passed_on == expected
