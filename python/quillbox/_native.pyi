"""Native extension module for quillbox.

Import as ``quillbox._native`` (re-exported by ``quillbox.__init__``).
"""

from collections.abc import Mapping, Sequence
from types import TracebackType
from typing import Literal, SupportsIndex, final

from _typeshed import FileDescriptorLike, StrOrBytesPath

__all__ = [
    "Cancellation",
    "CommandError",
    "DecryptionError",
    "EntryLimitError",
    "LockError",
    "MasterKeyError",
    "PlaceholderError",
    "QuillBoxError",
    "RunResult",
    "Sandbox",
    "SandboxError",
    "TokenizationError",
    "Vault",
    "VaultCorruptError",
    "VaultNotFoundError",
    "VaultPermissionError",
]

@final
class Vault:
    def __new__(
        cls,
        master_key_env: str,
        vault_path: str | None = None,
        allow_insecure_permissions: bool = False,
    ) -> Vault: ...
    def set(self, key: str, value: str | bytes | bytearray | Sequence[int]) -> None: ...
    def set_many(self, entries: Mapping[str, str | bytes | bytearray | Sequence[int]]) -> None: ...
    def delete(self, key: str) -> bool: ...
    def list_keys(self) -> list[str]: ...
    def run(
        self,
        command: str,
        timeout_secs: SupportsIndex = 300,
        max_output_bytes: SupportsIndex = 52428800,
        max_stderr_bytes: SupportsIndex = 1048576,
    ) -> RunResult: ...
    def run_with(
        self,
        command: str | Sequence[str],
        *,
        env: Mapping[str, str] | None = None,
        base_env: Mapping[str, str] | None = None,
        input: str | bytes | None = None,
        stdout: FileDescriptorLike | None = None,
        stderr: FileDescriptorLike | None = None,
        timeout_secs: SupportsIndex | None = 300,
        max_output_bytes: SupportsIndex | None = 52428800,
        max_stderr_bytes: SupportsIndex | None = 1048576,
        cwd: StrOrBytesPath | None = None,
        sandbox: Sandbox | None = None,
        cancellation: Cancellation | None = None,
    ) -> RunResult: ...
    def rekey(
        self,
        new_key_env: str,
        m_cost: SupportsIndex | None = None,
        t_cost: SupportsIndex | None = None,
        p_cost: SupportsIndex | None = None,
    ) -> None: ...
    def export(self, out_path: str, *, replace: bool = True) -> None: ...
    def import_vault(
        self,
        import_path: str,
        overwrite: bool = False,
        import_key_env: str | None = None,
    ) -> tuple[int, int, int]: ...
    def close(self) -> None: ...
    def __enter__(self) -> Vault: ...
    def __exit__(
        self,
        _exc_type: type[BaseException] | None,
        _exc_val: BaseException | None,
        _exc_tb: TracebackType | None,
    ) -> None: ...
    def __del__(self) -> None: ...

@final
class RunResult:
    @property
    def stdout(self) -> str: ...
    @property
    def stderr(self) -> str: ...
    @property
    def exit_code(self) -> int: ...
    @property
    def timed_out(self) -> bool: ...
    @property
    def stopped_by(
        self,
    ) -> Literal["timeout", "stdout limit", "stderr limit", "cancelled"] | None: ...

@final
class Sandbox:
    def __new__(
        cls,
        workspace: StrOrBytesPath | None = None,
        *,
        read: Sequence[StrOrBytesPath] = (),
        write: Sequence[StrOrBytesPath] = (),
        deny: Sequence[StrOrBytesPath] = (),
    ) -> Sandbox: ...
    @property
    def workspace(self) -> str | None: ...
    @property
    def read(self) -> tuple[str, ...]: ...
    @property
    def write(self) -> tuple[str, ...]: ...
    @property
    def deny(self) -> tuple[str, ...]: ...
    @staticmethod
    def check() -> None: ...

@final
class Cancellation:
    def cancel(self) -> None: ...
    @property
    def cancelled(self) -> bool: ...

class QuillBoxError(Exception):
    kind: str | None

class VaultNotFoundError(QuillBoxError): ...
class VaultCorruptError(QuillBoxError): ...
class VaultPermissionError(QuillBoxError): ...
class DecryptionError(QuillBoxError): ...
class MasterKeyError(QuillBoxError): ...
class PlaceholderError(QuillBoxError): ...
class TokenizationError(QuillBoxError): ...
class CommandError(QuillBoxError): ...
class SandboxError(QuillBoxError): ...
class EntryLimitError(QuillBoxError): ...
class LockError(QuillBoxError): ...
