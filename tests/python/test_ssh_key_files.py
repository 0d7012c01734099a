"""ssh and git handed a private key by {{file:KEY}}, logging in to an sshd of
the test's own on 127.0.0.1. ssh closes every descriptor it inherited above
2 as it starts, so the key must be a file it can open by its path."""

from __future__ import annotations

import os
import pwd
import shutil
import socket
import subprocess
import sys
import time
from collections.abc import Iterator
from pathlib import Path
from typing import NamedTuple

import pytest
from conftest import KEY_ENV, PASSPHRASE, MakeVault, require_sandbox
from quillbox import Sandbox, Vault

SSHD = "/usr/sbin/sshd"
# Every host key is taken, none is remembered, and only the key given is
# offered: the login succeeds by that key or not at all.
SSH_OPTIONS = [
    "-o", "BatchMode=yes",
    "-o", "StrictHostKeyChecking=no",
    "-o", "UserKnownHostsFile=/dev/null",
    "-o", "IdentitiesOnly=yes",
    "-o", "LogLevel=ERROR",
]  # fmt: skip


class Server(NamedTuple):
    port: int
    user: str
    client_key: bytes  # the private key that the server lets in, as ssh-keygen wrote it


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_until_listening(server: subprocess.Popen, port: int) -> None:
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if server.poll() is not None:
            pytest.fail(f"sshd ended at its start: {server.stderr.read()}")
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", port)) == 0:
                return
        time.sleep(0.02)
    pytest.fail("sshd did not listen within 10 s")


@pytest.fixture(scope="module")
def server(tmp_path_factory: pytest.TempPathFactory) -> Iterator[Server]:
    """An sshd on 127.0.0.1 that lets this user in with one fresh ed25519 key."""
    if not os.path.exists(SSHD):
        pytest.skip(f"{SSHD} is missing: install openssh-server")
    folder = tmp_path_factory.mktemp("sshd")
    for name in ("host_key", "client_key"):
        subprocess.run(
            ["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", str(folder / name)], check=True
        )
    shutil.copy(folder / "client_key.pub", folder / "authorized_keys")
    config = folder / "sshd_config"
    config.write_text(
        f"HostKey {folder / 'host_key'}\n"
        f"AuthorizedKeysFile {folder / 'authorized_keys'}\n"
        "ListenAddress 127.0.0.1\n"
        "StrictModes no\n"
        "PidFile none\n"
        "UsePAM no\n"
    )
    # sshd's privilege separation needs it at every login. It stays, as the
    # one sshd's own service makes does: the servers of other test processes
    # may be using it.
    try:
        Path("/run/sshd").mkdir(exist_ok=True)
    except PermissionError:
        pytest.skip("sshd needs /run/sshd, which only root can make")
    port = free_port()
    sshd = subprocess.Popen(
        [SSHD, "-D", "-e", "-f", str(config), "-p", str(port)],
        stderr=subprocess.PIPE,
        text=True,
    )
    try:
        wait_until_listening(sshd, port)
        yield Server(port, pwd.getpwuid(os.geteuid()).pw_name, (folder / "client_key").read_bytes())
    finally:
        sshd.terminate()
        sshd.communicate(timeout=30)


@pytest.fixture
def key_vault_path(make_vault: MakeVault, server: Server) -> Path:
    """A vault that holds the server's client key, byte for byte, its final
    newline kept."""
    return make_vault([("DEPLOY_KEY", server.client_key)])


def ssh_command(server: Server) -> list[str]:
    return ["ssh", "-i", "{{file:DEPLOY_KEY}}", "-p", str(server.port), *SSH_OPTIONS]


@pytest.mark.parametrize("sandboxed", [False, True], ids=["unconfined", "sandboxed"])
def test_ssh_logs_in_with_the_key_file(key_vault_path: Path, server: Server, sandboxed, tmp_path):
    options: dict = {}
    if sandboxed:
        require_sandbox()
        # The user's ~/.ssh is out of the sandbox's reach: no configuration file.
        options = {"sandbox": Sandbox(tmp_path), "cwd": tmp_path}
    command = [*ssh_command(server), "-F", "/dev/null", f"{server.user}@127.0.0.1", "echo reached"]
    with Vault(KEY_ENV, str(key_vault_path)) as vault:
        result = vault.run_with(command, **options)
    assert (result.exit_code, result.stdout, result.stderr) == (0, "reached\n", "")


def test_quillbox_run_hands_ssh_the_key_file(key_vault_path: Path, server: Server):
    arguments = [*ssh_command(server), f"{server.user}@127.0.0.1", "echo reached"]
    shown = subprocess.run(
        [sys.executable, "-m", "quillbox", "run", "--vault", str(key_vault_path), "--", *arguments],
        capture_output=True,
        text=True,
        env={**os.environ, "QUILLBOX_KEY": PASSPHRASE},
        timeout=120,
    )
    assert (shown.returncode, shown.stdout, shown.stderr) == (0, "reached\n", "")


def test_git_clones_over_ssh_with_the_key_file(key_vault_path: Path, server: Server, tmp_path):
    repository = tmp_path / "repository.git"
    work = tmp_path / "work"
    subprocess.run(["git", "init", "-q", "--bare", "-b", "main", str(repository)], check=True)
    subprocess.run(["git", "init", "-q", "-b", "main", str(work)], check=True)
    (work / "greeting").write_text("hello over ssh\n")
    identity = ["-c", "user.name=quillbox test", "-c", "user.email=test@example.test"]
    for step in (["add", "greeting"], [*identity, "commit", "-q", "-m", "first"]):
        subprocess.run(["git", "-C", str(work), *step], check=True)
    subprocess.run(["git", "-C", str(work), "push", "-q", str(repository), "main"], check=True)

    url = f"ssh://{server.user}@127.0.0.1:{server.port}{repository}"
    environment = {
        "PATH": os.environ["PATH"],
        "GIT_SSH_COMMAND": " ".join(["ssh", "-i", "{{file:DEPLOY_KEY}}", *SSH_OPTIONS]),
    }
    with Vault(KEY_ENV, str(key_vault_path)) as vault:
        cloned = vault.run_with(
            ["git", "clone", "-q", url, str(tmp_path / "clone")], env=environment
        )
    assert (cloned.exit_code, cloned.stderr) == (0, "")
    assert (tmp_path / "clone" / "greeting").read_text() == "hello over ssh\n"
