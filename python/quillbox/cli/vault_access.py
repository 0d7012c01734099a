"""Which vault a command opens, and with which passphrase: from its variable,
or asked for without echo on a terminal."""

from __future__ import annotations

import os
import sys

import quillbox
from quillbox.cli.errors import CliError

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox._native import Vault
    from quillbox.cli.command_line import Arguments

MIN_PASSPHRASE_LENGTH = 12
VAULT_ENV = "QUILLBOX_VAULT"  # the vault file, where --vault is not given
HEADER_MAC_MISMATCH = "HeaderMacMismatch"  # the error's kind, which a wrong passphrase gives
# Where a new passphrase asked for on the terminal waits for the native code,
# which reads every passphrase from a variable; this process's own only.
ASKED_KEY_ENV = "QUILLBOX_NEW_KEY_ASKED"


def open_vault(args: Arguments, asking: bool = True) -> Vault:
    # quillbox.Vault loads the native module on first use: the grammar imports
    # this module for VAULT_ENV, and a start that ends there goes without it.
    if asking:
        ask_passphrase_when_unset(args.key_env, "Master passphrase: ")
    try:
        return quillbox.Vault(args.key_env, args.vault, args.allow_insecure_permissions)
    except quillbox.VaultCorruptError as error:
        # The passphrase keys the header's MAC: a wrong one reads as damage.
        if error.kind == HEADER_MAC_MISMATCH:
            raise CliError(f"{error}: check {passphrase_source(args.key_env)}") from None
        raise


# The variables that hold a passphrase typed on the terminal, not one given.
typed_into: set[str] = set()


def ask_passphrase_when_unset(variable: str, prompt: str) -> None:
    """On a terminal, a passphrase whose variable is unset is asked for without
    echo, and put in the variable, where the native code reads it."""
    if variable not in os.environ and sys.stdin.isatty():
        os.environ[variable] = typed_unseen(prompt, nothing_done="nothing was done")
        typed_into.add(variable)


def passphrase_source(variable: str) -> str:
    """Where the passphrase in `variable` came from, for a message that asks the
    user to check it."""
    return "the passphrase typed" if variable in typed_into else variable


def ask_new_passphrase(nothing_done: str) -> str:
    first = typed_unseen("New master passphrase: ", nothing_done)
    if typed_unseen("Repeat the passphrase: ", nothing_done) != first:
        raise CliError(f"the two passphrases differ — {nothing_done}")
    return first


def typed_unseen(prompt: str, nothing_done: str) -> str:
    import getpass

    try:
        return getpass.getpass(prompt)
    except EOFError:
        raise CliError(f"nothing was typed — {nothing_done}") from None


def check_passphrase_length(passphrase: str) -> None:
    if len(passphrase) < MIN_PASSPHRASE_LENGTH:
        raise CliError(
            f"the master passphrase is too short ({len(passphrase)} characters) — use at least "
            f"{MIN_PASSPHRASE_LENGTH}"
        )


def vault_path(args: Arguments) -> str | None:
    """--vault, else QUILLBOX_VAULT, else None for the default path."""
    chosen: str | None = args.vault
    if chosen is None:
        chosen = os.environ.get(VAULT_ENV)
        if chosen == "":
            raise CliError(
                f"{VAULT_ENV} is empty — set it to the vault file's path, or unset it for the "
                "default vault"
            )
    return chosen
