"""The module object, its public names and its exception classes."""

import importlib
import sys

import pytest
import quillbox
from quillbox import _native

PUBLIC_NAMES = [
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

EXCEPTION_DOCS = {
    "QuillBoxError": "Base exception for all quillbox errors.",
    "VaultNotFoundError": "The vault file does not exist. Run `quillbox init` to create one.",
    "VaultCorruptError": "The vault file is corrupt or has been tampered with.",
    "VaultPermissionError": "The vault file has insecure permissions.",
    "DecryptionError": (
        "Decryption failed — the master passphrase is incorrect or the vault is corrupt."
    ),
    "MasterKeyError": (
        "Master key error — the passphrase environment variable is not set "
        "or the passphrase is too short."
    ),
    "PlaceholderError": "A placeholder could not be resolved against the vault.",
    "TokenizationError": "The command string was rejected by the tokenizer.",
    "CommandError": "The child process could not be spawned or was killed by a resource limit.",
    "EntryLimitError": "The vault entry limit (10,000) has been reached.",
    "LockError": "Could not acquire the vault lock.",
}


def test_public_names_in_registration_order():
    assert _native.__all__ == PUBLIC_NAMES
    assert quillbox.__all__ == PUBLIC_NAMES
    for name in PUBLIC_NAMES:
        assert getattr(quillbox, name) is getattr(_native, name)
    assert [name for name in vars(_native) if not name.startswith("__")] == PUBLIC_NAMES


def test_module_docstring():
    assert _native.__doc__ == (
        "Native extension module for quillbox.\n\n"
        "Import as ``quillbox._native`` (re-exported by ``quillbox.__init__``)."
    )


@pytest.mark.parametrize("name, doc", EXCEPTION_DOCS.items())
def test_exception_classes(name, doc):
    cls = getattr(_native, name)
    assert cls.__doc__ == doc
    assert cls.__module__ == "_native"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    if name == "QuillBoxError":
        assert cls.__bases__ == (Exception,)
    else:
        assert cls.__bases__ == (_native.QuillBoxError,)
    error = cls("message")
    assert str(error) == "message"
    assert error.args == ("message",)


def test_classes_live_in_builtins():
    assert _native.Vault.__module__ == "builtins"
    assert _native.RunResult.__module__ == "builtins"


def test_run_result_has_no_constructor():
    with pytest.raises(TypeError, match="^No constructor defined for RunResult$"):
        _native.RunResult()


def test_second_import_returns_the_same_objects():
    first_module = _native
    first_classes = [getattr(_native, name) for name in PUBLIC_NAMES]
    del sys.modules["quillbox._native"]
    again = importlib.import_module("quillbox._native")
    assert again is first_module
    assert [getattr(again, name) for name in PUBLIC_NAMES] == first_classes


def test_second_interpreter_cannot_import():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interpreter = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError, match="ImportError"):
            interpreters.run_string(interpreter, "import quillbox._native")
    finally:
        interpreters.destroy(interpreter)
