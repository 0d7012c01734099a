"""Native extension module for quillbox.

Import as ``quillbox._native`` (re-exported by ``quillbox.__init__``).
"""

from types import TracebackType
from typing import List, Mapping, Optional, Sequence, SupportsIndex, Tuple, Type, Union, final

from _typeshed import FileDescriptorLike

__all__ = [
    "Vault",
    "RunResult",
    "QuillBoxError",
    "VaultNotFoundError",
    "VaultCorruptError",
    "VaultPermissionError",
    "DecryptionError",
    "MasterKeyError",
    "PlaceholderError",
    "TokenizationError",
    "CommandError",
    "EntryLimitError",
    "LockError",
]

@final
class Vault:
    def __new__(
        cls,
        master_key_env: str,
        vault_path: Optional[str] = None,
        allow_insecure_permissions: bool = False,
    ) -> Vault: ...
    def set(self, key: str, value: Union[str, bytes, bytearray, Sequence[int]]) -> None: ...
    def delete(self, key: str) -> bool: ...
    def list_keys(self) -> List[str]: ...
    def run(
        self,
        command: str,
        timeout_secs: SupportsIndex = 300,
        max_output_bytes: SupportsIndex = 52428800,
        max_stderr_bytes: SupportsIndex = 1048576,
    ) -> RunResult: ...
    def run_with(
        self,
        command: Union[str, Sequence[str]],
        *,
        env: Optional[Mapping[str, str]] = None,
        input: Union[str, bytes, None] = None,
        stdout: Optional[FileDescriptorLike] = None,
        stderr: Optional[FileDescriptorLike] = None,
        timeout_secs: SupportsIndex = 300,
        max_output_bytes: SupportsIndex = 52428800,
        max_stderr_bytes: SupportsIndex = 1048576,
    ) -> RunResult: ...
    def rekey(
        self,
        new_key_env: str,
        m_cost: Optional[SupportsIndex] = None,
        t_cost: Optional[SupportsIndex] = None,
        p_cost: Optional[SupportsIndex] = None,
    ) -> None: ...
    def export(self, out_path: str) -> None: ...
    def import_vault(
        self,
        import_path: str,
        overwrite: bool = False,
        import_key_env: Optional[str] = None,
    ) -> Tuple[int, int, int]: ...
    def close(self) -> None: ...
    def __enter__(self) -> Vault: ...
    def __exit__(
        self,
        _exc_type: Optional[Type[BaseException]],
        _exc_val: Optional[BaseException],
        _exc_tb: Optional[TracebackType],
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

class QuillBoxError(Exception): ...
class VaultNotFoundError(QuillBoxError): ...
class VaultCorruptError(QuillBoxError): ...
class VaultPermissionError(QuillBoxError): ...
class DecryptionError(QuillBoxError): ...
class MasterKeyError(QuillBoxError): ...
class PlaceholderError(QuillBoxError): ...
class TokenizationError(QuillBoxError): ...
class CommandError(QuillBoxError): ...
class EntryLimitError(QuillBoxError): ...
class LockError(QuillBoxError): ...
