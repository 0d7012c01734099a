"""How the command reports a failure: one line on standard error."""

from __future__ import annotations

import sys


class CliError(Exception):
    """A failure reported as one line on standard error, with exit status 1."""


def print_error(message: str) -> None:
    sys.stderr.write(f"quillbox: {message}\n")
