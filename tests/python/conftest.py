"""Vault fixtures: files written by the independent implementation of the format,
with tiny Argon2 parameters so that every open and save is fast."""

from __future__ import annotations

import os
import shutil
import tempfile
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import Callable

import pytest
import reference_vault
from quillbox import Sandbox, SandboxError, Vault

KEY_ENV = "QUILLBOX_TEST_KEY"
PASSPHRASE = "correct horse battery staple"

MakeVault = Callable[..., Path]


@pytest.fixture
def master_key(monkeypatch: pytest.MonkeyPatch) -> str:
    monkeypatch.setenv(KEY_ENV, PASSPHRASE)
    return PASSPHRASE


@pytest.fixture
def make_vault(tmp_path: Path, master_key: str) -> MakeVault:
    """Writes a vault file holding `entries`, readable with the test passphrase."""

    def make(
        entries: Sequence[reference_vault.Entry] = (),
        name: str = "vault.bin",
        mode: int = 0o600,
        passphrase: str = master_key,
    ) -> Path:
        path = tmp_path / name
        path.write_bytes(reference_vault.encode(list(entries), passphrase.encode()))
        path.chmod(mode)
        return path

    return make


@pytest.fixture
def vault_path(make_vault: MakeVault) -> Path:
    return make_vault([("API_TOKEN", b"tok-3f9a1c77e2"), ("DB_PASSWORD", b"hunter2!")])


@pytest.fixture
def vault(vault_path: Path) -> Iterator[Vault]:
    with Vault(KEY_ENV, str(vault_path)) as opened:
        yield opened


@pytest.fixture
def secret_vault(make_vault: MakeVault, secret: bytes) -> Iterator[Vault]:
    """A vault holding `secret`, a fixture of the test's module, as T."""
    with Vault(KEY_ENV, str(make_vault([("T", secret)]))) as vault:
        yield vault


@pytest.fixture
def home() -> Iterator[Path]:
    """A folder in the real home, which no sandbox reaches unless told to
    (anything under /tmp would be reachable)."""
    if Path.home().is_relative_to("/tmp"):
        pytest.skip("the home folder lies in /tmp, which every sandbox reaches")
    folder = Path(tempfile.mkdtemp(prefix=".quillbox-test-", dir=Path.home()))
    yield folder
    shutil.rmtree(folder)


def read_entries(path: Path, passphrase: str = PASSPHRASE):
    """What the independent implementation reads from a vault file."""
    return reference_vault.decode(path.read_bytes(), passphrase.encode())


def unprivileged() -> list[str]:
    """The command prefix that runs a process without capabilities."""
    if os.geteuid() != 0:
        return []
    setpriv = shutil.which("setpriv")
    if setpriv is None:
        pytest.skip("setpriv (util-linux) is needed to run the host without root's capabilities")
    return [setpriv, "--bounding-set=-all", "--inh-caps=-all"]


def require_sandbox() -> None:
    """Skips a test of the sandbox where the kernel cannot enforce one."""
    try:
        Sandbox.check()
    except SandboxError as error:
        pytest.skip(str(error))
