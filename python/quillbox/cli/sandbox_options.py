"""The options that shape a sandbox, shared by `run --sandbox` and `mcp`."""

from __future__ import annotations

import quillbox
from quillbox.cli.command_line import Option

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox._native import Sandbox
    from quillbox.cli.command_line import Arguments


def sandbox_options(what: str) -> list[Option]:
    """What a sandbox allows beyond the system, the workspace and the
    temporary folders, and what it never allows."""
    return [
        Option(
            "--allow-read",
            f"let {what} read and run what lies beneath PATH (repeatable)",
            metavar="PATH",
            repeatable=True,
        ),
        Option(
            "--allow-write",
            f"let {what} read, write and run what lies beneath PATH (repeatable)",
            metavar="PATH",
            repeatable=True,
        ),
        Option(
            "--deny",
            "keep PATH out of reach, even beneath an allowed folder: backups of the vault, "
            "the file that holds the passphrase (repeatable)",
            metavar="PATH",
            repeatable=True,
        ),
    ]


def sandbox_paths_given(args: Arguments) -> bool:
    return bool(args.allow_read or args.allow_write or args.deny)


def sandbox_of(args: Arguments, workspace: str | None) -> Sandbox:
    return quillbox.Sandbox(workspace, read=args.allow_read, write=args.allow_write, deny=args.deny)
