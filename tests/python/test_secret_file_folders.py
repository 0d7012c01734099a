"""The folders in memory that hold the files of {{file:KEY}}: where they are
made, who reaches them, what a killed run leaves behind, and what happens
where no file system in memory can take them."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import tempfile
import time
from collections.abc import Iterator
from pathlib import Path

import pytest
from conftest import KEY_ENV, require_sandbox, unprivileged
from quillbox import Sandbox, Vault

# A host that runs a command holding a file until it is killed; the command
# writes its own process id and the file's path to argv[3] first.
HOLDING_HOST = r"""
import sys
from quillbox import Vault

script = 'echo $$ "$1" > "$0.tmp" && mv "$0.tmp" "$0"; exec sleep 60'
with Vault(sys.argv[1], sys.argv[2]) as vault:
    vault.run_with(["sh", "-c", script, sys.argv[3], "{{file:API_TOKEN}}"])
"""


def wait_for_file(path: Path) -> str:
    deadline = time.monotonic() + 30
    while not path.exists():
        assert time.monotonic() < deadline, f"{path} never appeared"
        time.sleep(0.02)
    return path.read_text()


def hold_until_released(vault: Vault, where: Path, release: Path):
    """Starts a run on a thread of its own whose command names a file, writes
    its path to `where` and waits for `release`; the thread, once joined, has
    the result."""
    import threading

    script = 'echo "$2" > "$0.tmp" && mv "$0.tmp" "$0"; while [ ! -e "$1" ]; do sleep 0.01; done'
    command = ["sh", "-c", script, str(where), str(release), "{{file:API_TOKEN}}"]
    outcome: dict = {}
    thread = threading.Thread(
        target=lambda: outcome.setdefault("result", vault.run_with(command)), daemon=True
    )
    thread.start()
    return thread, outcome


@pytest.fixture
def runtime_dir(monkeypatch: pytest.MonkeyPatch) -> Iterator[Path]:
    """$XDG_RUNTIME_DIR for this test alone: a folder of this user's, mode
    0700, on the tmpfs of /dev/shm."""
    folder = Path(tempfile.mkdtemp(prefix="qb-runtime-", dir="/dev/shm"))
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(folder))
    yield folder
    folder.rmdir()


@pytest.fixture
def runtime_dir_out_of_sandboxes(monkeypatch: pytest.MonkeyPatch) -> Iterator[Path]:
    """$XDG_RUNTIME_DIR for this test alone, on a tmpfs of its own under /run
    as a login's /run/user/UID is: no sandbox grants it, unlike /dev/shm."""
    if os.geteuid() != 0:
        pytest.skip("mounting a tmpfs needs root")
    folder = Path(tempfile.mkdtemp(prefix="qb-runtime-", dir="/run"))
    mount = ["mount", "-t", "tmpfs", "-o", "mode=0700,size=1m", "tmpfs", str(folder)]
    if subprocess.run(mount, capture_output=True).returncode != 0:
        folder.rmdir()
        pytest.skip("a tmpfs cannot be mounted here")
    monkeypatch.setenv("XDG_RUNTIME_DIR", str(folder))
    try:
        yield folder
    finally:
        subprocess.run(["umount", str(folder)], check=True)
        folder.rmdir()


def test_the_folder_is_made_in_the_runtime_folder(vault: Vault, runtime_dir: Path):
    result = vault.run_with(["sh", "-c", 'echo "${0%/*/*}"', "{{file:API_TOKEN}}"])
    assert result.stdout == f"{runtime_dir}\n"
    assert list(runtime_dir.iterdir()) == []


def test_a_killed_runs_folder_is_swept_away_by_the_next_run_with_files(
    vault_path: Path, vault: Vault, runtime_dir: Path, tmp_path: Path
):
    where = tmp_path / "where"
    host = subprocess.Popen(
        [sys.executable, "-c", HOLDING_HOST, KEY_ENV, str(vault_path), str(where)]
    )
    command_pid, path = wait_for_file(where).split()
    host.kill()
    host.wait(timeout=30)
    os.kill(int(command_pid), signal.SIGKILL)
    # Nobody was left to clean up.
    left = os.open(path, os.O_RDONLY)
    try:
        length = os.fstat(left).st_size
        assert length > 0
        assert vault.run_with(["true"]).exit_code == 0
        assert Path(path).exists()
        # A run that makes files sweeps it away first, wiping its file.
        assert vault.run_with(["true", "{{file:DB_PASSWORD}}"]).exit_code == 0
        assert list(runtime_dir.iterdir()) == []
        assert os.pread(left, length, 0) == bytes(length)
    finally:
        os.close(left)


@pytest.mark.parametrize("sandboxed", [True, False], ids=["sandboxed", "unconfined"])
def test_a_sandboxed_run_cannot_read_the_file_of_a_run_beside_it(
    vault: Vault, runtime_dir_out_of_sandboxes: Path, tmp_path: Path, sandboxed
):
    """The reader runs without root's capabilities; the same user's file is
    kept from it by the sandbox alone."""
    options: dict = {}
    if sandboxed:
        require_sandbox()
        options = {"sandbox": Sandbox(tmp_path), "cwd": tmp_path}
    where, release = tmp_path / "where", tmp_path / "release"
    holder, outcome = hold_until_released(vault, where, release)
    try:
        other = wait_for_file(where).strip()
        reader = 'cat "$0" >/dev/null 2>&1; echo "other run\'s file: $?"; cat "$1"'
        beside = vault.run_with(
            [*unprivileged(), "sh", "-c", reader, other, "{{file:DB_PASSWORD}}"], **options
        )
    finally:
        release.touch()
        holder.join(timeout=60)
    assert outcome["result"].exit_code == 0
    status = 1 if sandboxed else 0
    assert beside.stdout == f"other run's file: {status}\n[REDACTED_DB_PASSWORD]"


NO_MEMORY_FOLDER = (
    "spawn error: no folder in memory for the files of {{file:KEY}}: XDG_RUNTIME_DIR is not "
    'set, and "/dev/shm" is not on tmpfs or ramfs — set XDG_RUNTIME_DIR to a folder of yours '
    "with mode 0700 on tmpfs (as /run/user/UID is), or mount tmpfs on /dev/shm"
)

# Runs where /dev/shm is a folder on a disk, without $XDG_RUNTIME_DIR.
WITHOUT_MEMORY = r"""
import sys
from quillbox import CommandError, Vault

with Vault(sys.argv[1], sys.argv[2]) as vault:
    print(vault.run_with(["echo", "{{API_TOKEN}}"]).stdout, end="")
    try:
        vault.run_with(["cat", "{{file:API_TOKEN}}"])
    except CommandError as error:
        print(error)
"""


def test_without_a_folder_in_memory_a_file_placeholder_fails_and_nothing_reaches_a_disk(
    vault_path: Path, tmp_path: Path, monkeypatch: pytest.MonkeyPatch
):
    if os.geteuid() != 0:
        pytest.skip("a mount namespace of its own needs root")
    monkeypatch.delenv("XDG_RUNTIME_DIR", raising=False)
    disk = tmp_path / "disk"
    disk.mkdir()
    hidden = 'mount --bind "$0" /dev/shm && exec "$@"'
    host = [sys.executable, "-c", WITHOUT_MEMORY, KEY_ENV, str(vault_path)]
    shown = subprocess.run(
        ["unshare", "--mount", "--propagation", "private", "sh", "-c", hidden, str(disk), *host],
        capture_output=True,
        text=True,
        timeout=120,
    )
    if "unshare failed" in shown.stderr or "mount:" in shown.stderr:
        pytest.skip(f"no mount namespace of its own here: {shown.stderr.strip()}")
    assert (shown.returncode, shown.stderr) == (0, "")
    assert shown.stdout == f"[REDACTED_API_TOKEN]\n{NO_MEMORY_FOLDER}\n"
    assert list(disk.iterdir()) == []
