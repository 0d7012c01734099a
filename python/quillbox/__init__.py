"""quillbox: an encrypted secrets vault that runs commands with secrets injected
and redacts every secret from what comes back."""

# The public names are exactly _native's, in the order it registers them
# (tests/python/test_module.py holds the two lists equal). The native module is
# loaded when the first of them is asked for rather than by `import quillbox`,
# so that the command's help and version start without it. The names are
# defined where type checkers see them imported, below.
# ruff: noqa: F405
__all__ = [  # noqa: RUF022  (the native module's order)
    "Vault",
    "RunResult",
    "Sandbox",
    "Cancellation",
    "QuillBoxError",
    "VaultNotFoundError",
    "VaultCorruptError",
    "VaultPermissionError",
    "DecryptionError",
    "MasterKeyError",
    "PlaceholderError",
    "TokenizationError",
    "CommandError",
    "SandboxError",
    "EntryLimitError",
    "LockError",
]

# Type checkers see the names imported, and no catch-all for any other name.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox._native import *  # noqa: F403
else:

    def __getattr__(name: str) -> object:
        """A public name, or the native module itself, asked for before the
        native module was loaded: loading it makes every public name an
        attribute of the package. Any other name, another submodule not
        imported yet among them, is missing as it would be without this
        function."""
        if name != "_native" and name not in __all__:
            raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
        import quillbox._native as native

        globals().update({each: getattr(native, each) for each in __all__})
        return globals()[name]

    def __dir__() -> list[str]:
        return sorted({*globals(), *__all__})
