"""`quillbox run`: a command with its placeholders filled, its environment made
from quillbox's own and the vault's entries, its output passed on live."""

from __future__ import annotations

import os
import sys

from quillbox import environment
from quillbox.cli import limits
from quillbox.cli.errors import CliError, print_error
from quillbox.cli.sandbox_options import sandbox_of, sandbox_paths_given
from quillbox.cli.vault_access import open_vault
from quillbox.environment import DEFAULT_KEY_ENV

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox._native import Vault
    from quillbox.cli.command_line import Arguments

NOT_FOUND_EXIT_CODE = 127  # what a shell exits with for a program it cannot find


def run_command(args: Arguments) -> int:
    base_env = literal_environment(args)
    from_files = env_files_environment(args.env_file)
    if not args.sandbox and sandbox_paths_given(args):
        raise CliError("--allow-read, --allow-write and --deny shape a sandbox: add --sandbox")
    # The workspace is the folder the command starts in.
    sandbox = sandbox_of(args, workspace=None) if args.sandbox else None
    with open_vault(args) as vault:
        env = {**from_files, **entries_as_variables(args, vault), **dict(args.env)}
        result = vault.run_with(
            args.command if args.argument_vector is None else args.argument_vector,
            env=env,
            base_env=base_env,
            input=args.input,
            cwd=args.cwd,
            sandbox=sandbox,
            timeout_secs=args.timeout,
            max_output_bytes=args.max_output_bytes,
            max_stderr_bytes=args.max_stderr_bytes,
            # Live, byte for byte as redacted, to quillbox's own streams: as through a
            # pipe, without a limit unless one is asked for.
            stdout=sys.stdout,
            stderr=sys.stderr,
        )
    stop = limits.stop_message(
        result.stopped_by, args.timeout, args.max_output_bytes, args.max_stderr_bytes
    )
    if stop is not None:
        print_error(stop)
    elif result.exit_code == NOT_FOUND_EXIT_CODE and "PATH" not in env.keys() | base_env.keys():
        remedy = "drop --clean-env or add" if args.clean_env else "add"
        print_error(
            f"exit status 127, as for a program not found: the command's environment has no "
            f"PATH — {remedy} --env PATH=..."
        )
    return result.exit_code


def literal_environment(args: Arguments) -> dict[str, str]:
    """The variables taken from this process, passed on as they are: the base
    set (none with --clean-env, all with --inherit-env; no HOME in a sandbox),
    then those --pass-env names. Never a variable that holds a master
    passphrase."""
    variables: dict[str, str]
    if args.clean_env:
        variables = {}
    elif args.inherit_env:
        variables = environment.inherited_environment(args.key_env)
    else:
        variables = environment.base_environment(args.key_env)
    if args.sandbox:
        variables = environment.sandboxed_environment(variables)
    for name in args.pass_env:
        if name in (args.key_env, DEFAULT_KEY_ENV):
            raise CliError(
                f"--pass-env {name} would hand the master passphrase to the command — refused"
            )
        if name not in os.environ:
            raise CliError(f"--pass-env {name}: no such variable in quillbox's environment")
        variables[name] = os.environ[name]
    return variables


def env_files_environment(paths: list[str]) -> dict[str, str]:
    """The variables the --env-file files set, a later file's over an earlier's."""
    variables: dict[str, str] = {}
    for path in paths:
        try:
            variables.update(environment.read_env_file(path))
        except OSError as error:
            raise CliError(f"--env-file {path}: {error.strerror}") from None
    return variables


def entries_as_variables(args: Arguments, vault: Vault) -> dict[str, str]:
    """Every entry as a variable with --env-entries, those --env-entry names
    otherwise."""
    if args.env_entries:
        return environment.entries_environment(vault)
    return environment.entries_environment(vault, args.env_entry)
