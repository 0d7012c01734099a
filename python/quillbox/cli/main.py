"""The command's entry: the grammar reads the command line, then the
subcommand is carried out. Help, the version and usage errors end in the
grammar, before any module that loads native code is imported."""

from __future__ import annotations

import sys

from quillbox.cli.grammar import parse_arguments

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence


def main(argv: Sequence[str] | None = None) -> int:
    """Runs one subcommand. quillbox's own errors end it with one line and
    status 1; any other exception is a fault of the program, and shows its
    traceback."""
    args = parse_arguments(sys.argv[1:] if argv is None else argv)
    from quillbox.cli.dispatch import carry_out

    return carry_out(args)
