"""`quillbox mcp`: the MCP server, its workspace and the sandbox of the
commands it runs."""

from __future__ import annotations

import os

from quillbox import environment
from quillbox._native import Sandbox, SandboxError
from quillbox.cli.errors import CliError, print_error
from quillbox.cli.sandbox_options import sandbox_of, sandbox_paths_given
from quillbox.cli.vault_access import open_vault

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox.cli.command_line import Arguments

CAP_SYS_PTRACE = 19  # the capability number, <linux/capability.h>


def serve_mcp(args: Arguments) -> int:
    try:
        from quillbox import mcp_server
    except ImportError as error:
        missing = (error.name or str(error)).partition(".")[0]
        if missing == "quillbox":
            raise
        # Any module of the extra: the SDK, or one it needs (anyio, pydantic, ...).
        raise CliError(
            f"the MCP server needs quillbox's mcp extra (cannot import {missing}): "
            "pip install 'quillbox[mcp]'"
        ) from None
    if args.workspace is not None:
        # The vault's path keeps its meaning once the server works elsewhere.
        args.vault = None if args.vault is None else os.path.abspath(args.vault)
        try:
            os.chdir(args.workspace)
        except OSError as error:
            raise CliError(f"--workspace {args.workspace}: {error.strerror}") from None
    sandbox = mcp_sandbox(args)
    # Its standard input speaks the protocol: nobody is there to ask.
    with open_vault(args, asking=False) as vault:
        if commands_can_read_memory():
            print_error(
                "warning: serving as root: every command this server runs can read its memory, "
                "the vault's values included, whatever it does — serve as another user"
            )
        base_env = environment.base_environment(args.key_env)
        if sandbox is not None:
            base_env = environment.sandboxed_environment(base_env)
        mcp_server.serve(vault, sandbox, base_env)
    return 0


def mcp_sandbox(args: Arguments) -> Sandbox | None:
    """The sandbox of every command the server runs, its workspace the folder the
    server starts in; none with --no-sandbox, after a warning. A system that
    cannot sandbox refuses to serve without that choice made."""
    if args.no_sandbox:
        if sandbox_paths_given(args):
            raise CliError(
                "--allow-read, --allow-write and --deny shape the sandbox that "
                "--no-sandbox turns off: give one or the other"
            )
        print_error(
            "warning: --no-sandbox: the commands an agent runs can read whatever you can, "
            "the vault file and the passphrase's source included"
        )
        return None
    try:
        Sandbox.check()
    except SandboxError as error:
        raise CliError(
            f"{error}; without a sandbox, the commands an agent runs could read the vault file "
            "and the passphrase's source — pass --no-sandbox to serve all the same"
        ) from None
    workspace = os.path.realpath(os.getcwd())
    home = os.path.realpath(os.path.expanduser("~"))
    if os.path.commonpath([workspace, home]) == workspace:
        # Clients often start their servers in / or in the home folder.
        raise CliError(
            f"the workspace would be {workspace}, which holds your whole home, the "
            "passphrase's source included: start the server in a project's folder (the "
            'client\'s "cwd") or give --workspace DIR'
        )
    return sandbox_of(args, workspace=workspace)


def commands_can_read_memory() -> bool:
    """Whether the commands this process runs can read its memory however it
    guards it: as root, they hold CAP_SYS_PTRACE unless its bounding and
    inheritable sets leave it out (as a container's default set does)."""
    if os.geteuid() != 0:
        return False
    with open("/proc/self/status") as status:
        sets = dict(line.split(":", 1) for line in status if line.startswith(("CapBnd", "CapInh")))
    return any(int(value, 16) >> CAP_SYS_PTRACE & 1 for value in sets.values())
