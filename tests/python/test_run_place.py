"""Where run_with's child starts (cwd), the sandbox it starts in, and stopping a
run from another thread (Cancellation)."""

from __future__ import annotations

import os
import threading
import time
from pathlib import Path

import pytest
from conftest import require_sandbox
from quillbox import Cancellation, CommandError, Sandbox, SandboxError, Vault


def test_cwd_is_where_the_child_starts(vault: Vault, tmp_path: Path, monkeypatch):
    (tmp_path / "work").mkdir()
    (tmp_path / "work" / "notes.txt").write_text("in the workspace\n")
    monkeypatch.chdir(tmp_path)
    for cwd in ("work", tmp_path / "work", os.fsencode(tmp_path / "work")):
        result = vault.run_with(["cat", "notes.txt"], cwd=cwd)
        assert (result.exit_code, result.stdout) == (0, "in the workspace\n")


@pytest.mark.parametrize(
    ("name", "reason"),
    [("missing", "No such file or directory"), ("a-file", "Not a directory")],
)
def test_a_cwd_that_is_no_folder_is_named_in_the_error(vault, tmp_path, name, reason):
    (tmp_path / "a-file").write_text("")
    with pytest.raises(CommandError) as raised:
        vault.run_with(["true"], cwd=tmp_path / name)
    assert str(raised.value).startswith(
        f'spawn error: cannot start the command in "{tmp_path / name}": {reason}'
    )


def test_a_cancellation_stops_a_running_command_at_once(vault: Vault):
    cancellation = Cancellation()
    timer = threading.Timer(0.3, cancellation.cancel)
    timer.start()
    started = time.monotonic()
    result = vault.run_with(["sleep", "30"], cancellation=cancellation)
    elapsed = time.monotonic() - started
    timer.join()
    assert (result.exit_code, result.timed_out, result.stopped_by) == (124, False, "cancelled")
    assert cancellation.cancelled
    assert elapsed < 10  # the grace period is 5 s; sleep ends at its SIGTERM
    # Once made, it stops at once every later run given it.
    later = vault.run_with(["sh", "-c", "sleep 30; echo late"], cancellation=cancellation)
    assert (later.exit_code, later.stdout) == (124, "")
    assert repr(cancellation) == "Cancellation(cancelled=True)"


def test_a_run_without_a_cancellation_made_ends_as_usual(vault: Vault):
    cancellation = Cancellation()
    result = vault.run_with(["echo", "done"], cancellation=cancellation)
    assert (result.exit_code, result.stdout, cancellation.cancelled) == (0, "done\n", False)


def test_sandbox_paths_are_absolute_from_the_start(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    sandbox = Sandbox("work", read=["docs", Path("/usr/share")], deny=[b"backups"])
    assert (sandbox.workspace, sandbox.read, sandbox.write, sandbox.deny) == (
        str(tmp_path / "work"),
        (str(tmp_path / "docs"), "/usr/share"),
        (),
        (str(tmp_path / "backups"),),
    )
    assert repr(Sandbox()) == "Sandbox(workspace=None, read=(), write=(), deny=())"


@pytest.mark.parametrize(
    ("arguments", "message"),
    [
        ({"read": "/usr"}, "argument 'read': expected a sequence of paths, got str"),
        ({"deny": [3]}, "argument 'deny'"),
        ({"workspace": 3}, "argument 'workspace'"),
    ],
)
def test_sandbox_arguments_of_the_wrong_type_are_refused(arguments, message):
    with pytest.raises(TypeError, match=f"^{message}"):
        Sandbox(**arguments)


@pytest.mark.parametrize(
    ("keyword", "value", "expected"),
    [("sandbox", "yes", "None or Sandbox"), ("cancellation", True, "None or Cancellation")],
)
def test_run_with_refuses_what_is_not_a_sandbox_or_a_cancellation(vault, keyword, value, expected):
    with pytest.raises(TypeError, match=f"^argument '{keyword}': expected {expected}, got"):
        vault.run_with(["true"], **{keyword: value})


def test_a_sandboxed_command_keeps_its_workspace_and_files_and_loses_the_vault(
    vault: Vault, vault_path: Path, tmp_path: Path
):
    require_sandbox()
    (tmp_path / "script.sh").write_text("echo from the workspace\n")
    sandbox = Sandbox(tmp_path)
    for command, expected in [
        (["sh", "script.sh"], (0, "from the workspace\n")),
        (["sh", "-c", "echo made > made.txt && cat made.txt"], (2, "")),
        (["cat", "{{file:API_TOKEN}}"], (0, "[REDACTED_API_TOKEN]")),
        (["cat", vault_path.name], (1, "")),
    ]:
        result = vault.run_with(command, sandbox=sandbox, cwd=tmp_path)
        assert (result.exit_code, result.stdout) == expected, command
    # A folder of its own, beside the vault, takes new files.
    (tmp_path / "out").mkdir()
    made = vault.run_with(
        ["sh", "-c", "echo made > out/made.txt && cat out/made.txt"], sandbox=sandbox, cwd=tmp_path
    )
    assert (made.exit_code, made.stdout) == (0, "made\n")


def test_a_sandbox_that_allows_a_missing_path_is_refused(vault, tmp_path):
    require_sandbox()
    expected = '^sandbox error: cannot allow .*/missing" to a sandboxed command: No such file'
    with pytest.raises(SandboxError, match=expected):
        vault.run_with(["true"], sandbox=Sandbox(tmp_path, write=[tmp_path / "missing"]))
