"""The module object, its public names and its exception classes."""

import ast
import builtins
import importlib
import subprocess
import sys
from pathlib import Path

import pytest
import quillbox
from quillbox import _native

# The type stub declares every public name once more, for type checkers: its
# classes, in the order the module registers them, with their bases, and its
# __all__. What the module must hold is read from there.
STUB = ast.parse(Path(_native.__file__).with_name("_native.pyi").read_text())
STUB_CLASSES = {
    node.name: [ast.unparse(base) for base in node.bases]
    for node in STUB.body
    if isinstance(node, ast.ClassDef)
}
STUB_ALL = next(
    ast.literal_eval(node.value)
    for node in STUB.body
    if isinstance(node, ast.Assign) and ast.unparse(node.targets[0]) == "__all__"
)
EXCEPTION_CLASSES = [name for name, bases in STUB_CLASSES.items() if bases]

# The docstrings of the exception classes are part of the module's surface;
# this is the one place that holds their text.
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
    "SandboxError": "The command could not be confined to its sandbox.",
    "EntryLimitError": "The vault entry limit (10,000) has been reached.",
    "LockError": "Could not acquire the vault lock.",
}


def test_public_names_in_registration_order():
    public_names = list(STUB_CLASSES)
    assert sorted(STUB_ALL) == sorted(public_names)
    assert _native.__all__ == public_names
    assert quillbox.__all__ == public_names
    for name in public_names:
        assert getattr(quillbox, name) is getattr(_native, name)
    assert [name for name in vars(_native) if not name.startswith("__")] == public_names


# What a program finds of the package in an interpreter of its own, where the
# package loads the native module once one of its names is first asked for:
# each program prints what it found.
@pytest.mark.parametrize(
    ("program", "found"),
    [
        ("from quillbox import *\nprint(Vault.__name__, LockError.__name__)", "Vault LockError"),
        ("import quillbox\nprint(quillbox.__all__ == quillbox._native.__all__)", "True"),
        ("import quillbox\nprint(set(quillbox.__all__) <= set(dir(quillbox)))", "True"),
        (
            "import quillbox\ntry:\n    quillbox.Vault('QB_UNSET_KEY', '/nonexistent/vault.bin')\n"
            "except quillbox.QuillBoxError as error:\n    print(type(error).__name__)",
            "VaultNotFoundError",
        ),
        ("from quillbox import environment\nprint(environment.DEFAULT_KEY_ENV)", "QUILLBOX_KEY"),
        (
            "import quillbox\ntry:\n    quillbox.Valut\nexcept AttributeError as error:\n"
            "    print(error)",
            "module 'quillbox' has no attribute 'Valut'",
        ),
    ],
)
def test_the_public_names_are_found_on_first_use(program, found):
    ran = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True)
    assert (ran.returncode, ran.stdout, ran.stderr) == (0, found + "\n", "")


def test_module_docstring():
    assert _native.__doc__ == (
        "Native extension module for quillbox.\n\n"
        "Import as ``quillbox._native`` (re-exported by ``quillbox.__init__``)."
    )


def test_exception_docstrings():
    documented = {name: getattr(_native, name).__doc__ for name in EXCEPTION_CLASSES}
    assert documented == EXCEPTION_DOCS


@pytest.mark.parametrize("name", EXCEPTION_CLASSES)
def test_exception_classes(name):
    cls = getattr(_native, name)
    assert cls.__module__ == "_native"
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    # A base is one of the module's classes or a builtin one.
    bases = tuple(
        getattr(_native, base, None) or getattr(builtins, base) for base in STUB_CLASSES[name]
    )
    assert cls.__bases__ == bases
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
    first_classes = [getattr(_native, name) for name in STUB_CLASSES]
    del sys.modules["quillbox._native"]
    again = importlib.import_module("quillbox._native")
    assert again is first_module
    assert [getattr(again, name) for name in STUB_CLASSES] == first_classes


def test_second_interpreter_cannot_import():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    interpreter = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError, match="ImportError"):
            interpreters.run_string(interpreter, "import quillbox._native")
    finally:
        interpreters.destroy(interpreter)
