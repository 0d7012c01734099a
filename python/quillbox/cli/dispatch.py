"""Carries out one parsed subcommand and turns quillbox's own errors into one
line."""

from __future__ import annotations

import os
import sys

from quillbox import _vaultfile
from quillbox._native import QuillBoxError
from quillbox.cli.errors import CliError, print_error
from quillbox.cli.vault_access import vault_path
from quillbox.environment import EnvFileError

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox.cli.command_line import Arguments

SIGPIPE = 13


def carry_out(args: Arguments) -> int:
    """Runs the subcommand of `args`. quillbox's own errors end it with one
    line and status 1; any other exception is a fault of the program, and
    shows its traceback."""
    # A low locked-memory limit refuses every secret buffer: one line in all.
    _vaultfile.tally_memory_lock_refusals()
    try:
        args.vault = vault_path(args)
        status: int = args.handler(args)
        sys.stdout.flush()
        return status
    except (QuillBoxError, CliError, EnvFileError) as error:
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
