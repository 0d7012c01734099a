"""quillbox: an encrypted secrets vault that runs commands with secrets injected
and redacts every secret from what comes back."""

from quillbox import _native
from quillbox._native import *  # noqa: F403  (the public names are exactly _native's)

__all__ = list(_native.__all__)
