"""Runs one subcommand and turns quillbox's own errors into one line."""

from __future__ import annotations

import os
import sys

import quillbox
from quillbox import _vaultfile
from quillbox.cli.errors import CliError, print_error
from quillbox.cli.grammar import parse_arguments
from quillbox.cli.vault_access import vault_path
from quillbox.environment import EnvFileError

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence

SIGPIPE = 13


def main(argv: Sequence[str] | None = None) -> int:
    """Runs one subcommand. quillbox's own errors end it with one line and
    status 1; any other exception is a fault of the program, and shows its
    traceback."""
    args = parse_arguments(sys.argv[1:] if argv is None else argv)
    # A low locked-memory limit refuses every secret buffer: one line in all.
    _vaultfile.tally_memory_lock_refusals()
    try:
        args.vault = vault_path(args)
        status: int = args.handler(args)
        sys.stdout.flush()
        return status
    # Asking the package for QuillBoxError loads the native module where no
    # subcommand has yet; help and the version end before the try.
    except (quillbox.QuillBoxError, CliError, EnvFileError) as error:
        print_error(str(error))
        return 1
    except BrokenPipeError:
        # The reader went away (`quillbox list | head -1`): end as a writer in a
        # pipeline does, without a word, and without a last flush failing too.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
        return 128 + SIGPIPE
    except KeyboardInterrupt:
        return 130
    finally:
        report_memory_lock_refusals()


def report_memory_lock_refusals() -> None:
    refusals = _vaultfile.take_memory_lock_refusals()
    if refusals is not None:
        count, size, reason = refusals
        print_error(
            f"warning: the system refused to lock {count} secret buffers into memory ({size} "
            f"bytes in all): {reason} — secrets may be swapped to disk; raise the "
            "locked-memory limit (ulimit -l)"
        )
