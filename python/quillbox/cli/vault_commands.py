"""The commands that manage the vault and its entries: init, rekey, set, list,
delete, export and import. Values never travel on the command line: `set`
reads one from standard input or from a file."""

from __future__ import annotations

import os
import sys

from quillbox import _vaultfile, environment
from quillbox._native import VaultCorruptError
from quillbox.cli.errors import CliError, print_error
from quillbox.cli.vault_access import (
    ASKED_KEY_ENV,
    HEADER_MAC_MISMATCH,
    ask_new_passphrase,
    ask_passphrase_when_unset,
    check_passphrase_length,
    open_vault,
    passphrase_source,
    typed_unseen,
)

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox.cli.command_line import Arguments


def init_vault(args: Arguments) -> int:
    passphrase = os.environ.get(args.key_env)
    asked = passphrase is None
    if passphrase is None:
        if not sys.stdin.isatty():
            raise CliError(
                f"environment variable {args.key_env} is not set — set it to the new master "
                "passphrase, or run `quillbox init` in a terminal to be asked for it"
            )
        passphrase = ask_new_passphrase(nothing_done="nothing was created")
        # The native code reads the passphrase from the variable, as it always does.
        os.environ[args.key_env] = passphrase
    check_passphrase_length(passphrase)
    path = _vaultfile.create_vault(args.vault, args.m_cost, args.t_cost, args.p_cost, args.key_env)
    print(f"created an empty vault at {path}")
    if asked:
        print(
            f"the other commands ask for this passphrase on a terminal, or read it from "
            f"{args.key_env}; to type it once for this shell, without echo and out of its "
            f"history: read -rs {args.key_env}; export {args.key_env}"
        )
    return 0


def rekey_vault(args: Arguments) -> int:
    ask_passphrase_when_unset(args.key_env, "Master passphrase: ")
    if args.keep_passphrase:
        with open_vault(args) as vault:
            vault.rekey(args.key_env, m_cost=args.m_cost, t_cost=args.t_cost, p_cost=args.p_cost)
        print("the vault keeps its passphrase, under the new Argon2 costs")
        return 0
    new_key_env = args.new_key_env
    asked = new_key_env is None
    if asked:
        if not sys.stdin.isatty():
            raise CliError(
                "give --new-key-env NAME, a variable holding the new master passphrase, or "
                "--keep-passphrase to change only the Argon2 costs, or run `quillbox rekey` in "
                "a terminal to be asked for the new passphrase"
            )
        new_key_env = ASKED_KEY_ENV
        os.environ[new_key_env] = ask_new_passphrase(nothing_done="the vault is unchanged")
    elif new_key_env not in os.environ:
        raise CliError(
            f"environment variable {new_key_env} is not set — set it to the new master passphrase"
        )
    check_passphrase_length(os.environ[new_key_env])
    with open_vault(args) as vault:
        vault.rekey(new_key_env, m_cost=args.m_cost, t_cost=args.t_cost, p_cost=args.p_cost)
    if asked:
        print(
            "the vault now takes the new passphrase: type it when asked, or put it in "
            f"{args.key_env} from now on"
        )
    elif new_key_env == args.key_env:
        print(f"the vault now takes the passphrase in {new_key_env}")
    else:
        print(
            f"the vault now takes the passphrase in {new_key_env}: from now on give --key-env "
            f"{new_key_env}, or put the passphrase in {args.key_env}"
        )
    return 0


def set_entry(args: Arguments) -> int:
    if not _vaultfile.is_key_name(args.key):
        raise CliError(f'invalid key name "{args.key}" — {_vaultfile.KEY_NAME_RULE}')
    if args.file is not None and args.keep_newline:
        raise CliError("--file stores the file's bytes exactly: --keep-newline has no use there")
    # Asked for first, when it is, so that the value is the last thing typed.
    ask_passphrase_when_unset(args.key_env, "Master passphrase: ")
    if args.file is None:
        value = read_secret_value(args.key, keep_newline=args.keep_newline)
    else:
        try:
            value = read_secret_file(args.file)
        except OSError as error:
            raise CliError(f"--file {args.file}: {error.strerror}") from None
    if not value and not args.allow_empty:
        raise CliError(
            f"the value for {args.key} is empty (an unset variable piped in?) — nothing was "
            "stored; give --allow-empty to store an empty value"
        )
    length = len(value)
    with open_vault(args) as vault:
        vault.set(args.key, value)  # zeroes the bytearray
    print(f"stored {args.key}")
    warn_of_short_values({args.key: length})
    return 0


def import_env_file(args: Arguments) -> int:
    try:
        variables = environment.read_env_file(args.path)
    except OSError as error:
        raise CliError(f"{args.path}: {error.strerror}") from None
    empty = [name for name, value in variables.items() if not value]
    if empty and not args.allow_empty:
        raise CliError(
            f"{', '.join(empty)} {'is' if len(empty) == 1 else 'are'} empty in {args.path} — "
            "nothing was stored; give --allow-empty to store empty values"
        )
    values = {name: bytearray(value.encode()) for name, value in variables.items()}
    lengths = {name: len(value) for name, value in values.items()}
    with open_vault(args) as vault:
        vault.set_many(values)  # zeroes the bytearrays
    print(f"stored {len(values)} {'entry' if len(values) == 1 else 'entries'} from {args.path}")
    warn_of_short_values(lengths)
    return 0


def warn_of_short_values(lengths: dict[str, int]) -> None:
    """One line for the values too short for the forms encoders write."""
    shortest = _vaultfile.MIN_ENCODED_FORM_BYTES
    short = [name for name, length in lengths.items() if 0 < length < shortest]
    if not short:
        return
    if len(short) == 1:
        subject = f"{short[0]} is {lengths[short[0]]} bytes, under {shortest}"
    else:
        subject = f"{', '.join(short)} are under {shortest} bytes each"
    print_error(
        f"warning: {subject}: output hides {'it' if len(short) == 1 else 'them'} raw and in "
        "plain Base64, percent and hex only, not as other encoders write them, and hides every "
        "occurrence, inside other words too"
    )


def list_entries(args: Arguments) -> int:
    with open_vault(args) as vault:
        names = vault.list_keys()
    if args.json:
        import json

        print(json.dumps(names))
    else:
        for name in names:
            print(name)
    return 0


def delete_entry(args: Arguments) -> int:
    with open_vault(args) as vault:
        if not vault.delete(args.key):
            raise CliError(f"no entry named {args.key} — `quillbox list` shows the names")
    print(f"deleted {args.key}")
    return 0


def export_vault(args: Arguments) -> int:
    if os.path.isdir(args.path):
        raise CliError(f"{args.path} is a folder — name the backup file to write")
    # Refused early, before the slow key derivation; the export's own refusal
    # covers a file made meanwhile.
    if os.path.lexists(args.path) and not args.force:
        raise CliError(f"{args.path} exists — give --force to replace it")
    missing = missing_folders(args.path)
    with open_vault(args) as vault:
        vault.export(args.path, replace=args.force)
    if missing:
        *outer, inner = reversed(missing)
        named = f"s {', '.join(outer)} and {inner}" if outer else f" {inner}"
        print(f"created the folder{named} (mode 0700)")
    print(f"exported to {args.path}")
    return 0


def import_vault(args: Arguments) -> int:
    with open_vault(args) as vault:
        if args.import_key_env is not None:
            ask_passphrase_when_unset(args.import_key_env, "The backup's passphrase: ")
        try:
            added, skipped, replaced = vault.import_vault(
                args.path, overwrite=args.overwrite, import_key_env=args.import_key_env
            )
        except VaultCorruptError as error:
            if error.kind != HEADER_MAC_MISMATCH:
                raise
            if args.import_key_env is None:
                raise CliError(
                    f"{error}: a backup made under another passphrase than the vault's needs "
                    "--import-key-env NAME"
                ) from None
            raise CliError(f"{error}: check {passphrase_source(args.import_key_env)}") from None
    print(f"{added} added, {skipped} skipped, {replaced} replaced")
    return 0


def read_secret_value(key: str, keep_newline: bool) -> bytearray:
    if sys.stdin.isatty():
        return bytearray(typed_unseen(f"Value for {key}: ", "nothing was stored").encode())
    value = bytearray(sys.stdin.buffer.read())
    if not keep_newline:
        for line_end in (b"\r\n", b"\n"):
            if value.endswith(line_end):
                del value[-len(line_end) :]
                break
    return value


def read_secret_file(path: str) -> bytearray:
    """The bytes of the file at `path` exactly, final newline and all, in memory
    that `Vault.set` wipes; a buffer outgrown is wiped before it is let go. A
    pipe (`--file <(...)`) is read to its end."""
    with open(path, "rb", buffering=0) as file:
        value = bytearray(max(os.fstat(file.fileno()).st_size + 1, 4096))
        filled = 0
        while True:
            with memoryview(value) as view:
                count = file.readinto(view[filled:])
            if not count:
                break
            filled += count
            if filled == len(value):
                grown = bytearray(2 * len(value))
                grown[:filled] = value
                value[:] = bytes(len(value))
                value = grown
    del value[filled:]
    return value


def missing_folders(path: str) -> list[str]:
    """The folders on the way to `path` that do not exist, the nearest first."""
    missing = []
    folder = os.path.dirname(os.path.normpath(path))
    while folder and not os.path.exists(folder):
        missing.append(folder)
        folder = os.path.dirname(folder)
    return missing
