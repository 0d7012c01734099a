"""What the `quillbox` command takes: its subcommands, their options and
positionals, and the checks that span several options."""

from __future__ import annotations

from quillbox import _version
from quillbox.cli import limits
from quillbox.cli.command_line import Arguments, CommandLine, Option, Positional, Subcommand
from quillbox.cli.sandbox_options import sandbox_options
from quillbox.cli.vault_access import VAULT_ENV
from quillbox.environment import DEFAULT_KEY_ENV

# Type checkers see these names; a start of the command does not pay for
# importing typing.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence
    from typing import Callable


def handler(module: str, function: str) -> Callable[[Arguments], int]:
    """`function` of the module quillbox.cli.`module`, imported when its
    subcommand runs: a start that ends in the grammar (help, the version, a
    usage error) imports no subcommand's module, nor the native module they
    open the vault with."""

    def call(args: Arguments) -> int:
        # __import__ rather than importlib, whose import would load warnings.
        found = __import__(f"quillbox.cli.{module}", fromlist=[function])
        status: int = getattr(found, function)(args)
        return status

    return call


def name_and_value(text: str) -> tuple[str, str]:
    name, equals, value = text.partition("=")
    if not equals:
        # Text without its name may be the value alone, which is never repeated.
        raise ValueError("expected NAME=VALUE, and found no =")
    return name, value


def variable_name(text: str) -> str:
    """A variable's name, checked before any message could show it: text that
    is no name may be the passphrase itself, given where its variable's name
    belongs, and is never repeated."""
    # The core's rule: the native code is loaded where a name is given.
    from quillbox import _vaultfile

    if not _vaultfile.is_key_name(text):
        raise ValueError(
            "not a variable name ([A-Za-z_][A-Za-z0-9_]*), so it is not shown — give the "
            "variable's name, never the passphrase itself"
        )
    return text


def non_negative(text: str) -> int:
    if not text.isascii() or not text.isdigit():
        raise ValueError(f"expected a whole number of 0 or more: {text}")
    return int(text)


def version() -> str:
    return f"quillbox {_version.VERSION}"


def cost_options(default: str, m: int | None, t: int | None, p: int | None) -> list[Option]:
    return [
        Option(
            "--m-cost",
            f"Argon2 memory in KiB (default: {default or m})",
            metavar="KIB",
            default=m,
            convert=non_negative,
        ),
        Option(
            "--t-cost",
            f"Argon2 passes (default: {default or t})",
            metavar="PASSES",
            default=t,
            convert=non_negative,
        ),
        Option(
            "--p-cost",
            f"Argon2 lanes (default: {default or p})",
            metavar="LANES",
            default=p,
            convert=non_negative,
        ),
    ]


COMMAND_LINE = CommandLine(
    prog="quillbox",
    description="Keep secrets in an encrypted vault and run commands with them injected; "
    "every secret is redacted from what the command prints.",
    example='QUILLBOX_KEY=... quillbox run \'curl -H "Authorization: Bearer {{API_TOKEN}}" '
    "https://example.test'",
    common=[
        Option(
            "--vault",
            f"the vault file (default: ${VAULT_ENV}, else ~/.local/share/quillbox/vault.bin)",
            metavar="PATH",
        ),
        Option(
            "--key-env",
            f"the variable holding the master passphrase (default: {DEFAULT_KEY_ENV}); where it "
            "is unset, a command on a terminal asks for the passphrase",
            metavar="NAME",
            convert=variable_name,
            default=DEFAULT_KEY_ENV,
        ),
        Option(
            "--allow-insecure-permissions",
            "open a vault file that group or others may access",
            switch=True,
        ),
    ],
    subcommands=[
        Subcommand(
            "init",
            handler("vault_commands", "init_vault"),
            "create a new, empty vault",
            "quillbox init --vault ./team.vault",
            options=cost_options("", 65536, 3, 1),
        ),
        Subcommand(
            "rekey",
            handler("vault_commands", "rekey_vault"),
            "change the master passphrase or the Argon2 costs",
            "quillbox rekey --new-key-env QUILLBOX_NEW_KEY",
            options=[
                Option(
                    "--new-key-env",
                    "the variable holding the new passphrase (default: ask twice on the terminal)",
                    metavar="NAME",
                    convert=variable_name,
                ),
                Option(
                    "--keep-passphrase",
                    "keep the passphrase, and change only the costs given",
                    switch=True,
                ),
                *cost_options("the vault's", None, None, None),
            ],
        ),
        Subcommand(
            "set",
            handler("vault_commands", "set_entry"),
            "store a secret read from standard input",
            'printf %s "$TOKEN" | quillbox set API_TOKEN',
            options=[
                Option(
                    "--file",
                    "store the bytes of the file at PATH exactly, as keys and certificates "
                    "must be (default: read standard input)",
                    metavar="PATH",
                ),
                Option(
                    "--keep-newline",
                    "keep a trailing newline (\\n or \\r\\n) read from a pipe",
                    switch=True,
                ),
                Option("--allow-empty", "store an empty value", switch=True),
            ],
            positionals=[Positional("key", "the entry name ([A-Za-z_][A-Za-z0-9_]*)")],
        ),
        Subcommand(
            "list",
            handler("vault_commands", "list_entries"),
            "print the entry names, never their values",
            "quillbox list --json",
            options=[Option("--json", "print the names as one JSON array", switch=True)],
        ),
        Subcommand(
            "delete",
            handler("vault_commands", "delete_entry"),
            "remove an entry",
            "quillbox delete API_TOKEN",
            positionals=[Positional("key", "the entry name")],
        ),
        Subcommand(
            "export",
            handler("vault_commands", "export_vault"),
            "write an encrypted backup of the vault",
            "quillbox export backup.vault",
            options=[Option("--force", "replace the file at PATH if there is one", switch=True)],
            positionals=[
                Positional(
                    "path", "the backup file to write; missing folders on the way are made (0700)"
                )
            ],
        ),
        Subcommand(
            "import",
            handler("vault_commands", "import_vault"),
            "merge the entries of an encrypted backup into the vault",
            "quillbox import backup.vault --overwrite",
            options=[
                Option("--overwrite", "replace entries that exist", switch=True),
                Option(
                    "--import-key-env",
                    "the variable holding the backup's passphrase (default: the vault's own)",
                    metavar="NAME",
                    convert=variable_name,
                ),
            ],
            positionals=[Positional("path", "the backup file to read")],
        ),
        Subcommand(
            "import-env",
            handler("vault_commands", "import_env_file"),
            "store every variable of a dotenv file as an entry, saving the vault once",
            "quillbox import-env .env",
            options=[Option("--allow-empty", "store empty values too", switch=True)],
            positionals=[
                Positional("path", "the dotenv file: NAME=value lines, quoted or not, # comments")
            ],
        ),
        Subcommand(
            "run",
            handler("run_command", "run_command"),
            "run a command with {{KEY}} placeholders and redacted output",
            "quillbox run 'git clone https://x:{{url:GIT_TOKEN}}@example.test/repo.git'",
            options=[
                Option(
                    "--env",
                    "a variable of the command's environment; VALUE may hold {{KEY}} "
                    "placeholders (repeatable; wins over every other source)",
                    metavar="NAME=VALUE",
                    convert=name_and_value,
                    repeatable=True,
                ),
                Option(
                    "--env-file",
                    "the variables a dotenv file sets (NAME=value lines); values may hold "
                    "{{KEY}} placeholders (repeatable; a later file wins)",
                    metavar="FILE",
                    repeatable=True,
                ),
                Option(
                    "--env-entries",
                    "every vault entry as a variable of the same name, its value the entry's",
                    switch=True,
                ),
                Option(
                    "--env-entry",
                    "this vault entry as a variable of the same name (repeatable)",
                    metavar="NAME",
                    repeatable=True,
                ),
                Option(
                    "--pass-env",
                    "copy this variable from quillbox's own environment as it is (repeatable; "
                    "--env-file, --env-entry and --env win)",
                    metavar="NAME",
                    repeatable=True,
                ),
                Option(
                    "--clean-env",
                    "start the command's environment empty, instead of with quillbox's PATH, "
                    "HOME, USER, LOGNAME, LANG, LC_*, TERM, TZ and TMPDIR",
                    switch=True,
                ),
                Option(
                    "--inherit-env",
                    "start the command's environment with all of quillbox's, but the master "
                    "passphrase's variable",
                    switch=True,
                ),
                Option(
                    "--input",
                    "feed TEXT, its {{KEY}} placeholders filled, to the command's standard "
                    "input (default: quillbox's own standard input)",
                    metavar="TEXT",
                ),
                Option(
                    "--cwd",
                    "start the command in DIR (default: quillbox's own working directory)",
                    metavar="DIR",
                ),
                Option(
                    "--timeout",
                    "stop the command after this long: 30, 90s, 5m, 2h (default: none)",
                    metavar="TIME",
                    convert=limits.duration,
                ),
                Option(
                    "--max-output-bytes",
                    "stop the command once its standard output passes SIZE: 1000, 512K, 50M, "
                    "1G (default: none)",
                    metavar="SIZE",
                    convert=limits.size,
                ),
                Option(
                    "--max-stderr-bytes",
                    "stop the command once its standard error passes SIZE (default: none)",
                    metavar="SIZE",
                    convert=limits.size,
                ),
                Option(
                    "--sandbox",
                    "run the command in a sandbox: the system to read, its working directory "
                    "and the temporary folders to write, the network; never the vault, "
                    "nothing else of your home",
                    switch=True,
                ),
                *sandbox_options("the sandboxed command"),
            ],
            positionals=[
                Positional(
                    "command",
                    "one string; no shell syntax unless quoted. Or, after all options, "
                    "-- PROGRAM [ARG...]: an argument vector passed on as it stands. "
                    "{{KEY}} is the value, {{url:KEY}} the value percent-encoded for a URL, "
                    "{{file:KEY}} the path of a file holding it; a {{ not followed by a "
                    "letter or _ is text, so templates pass: {{.Name}}, {{%h}}, {{ end }}",
                    required=False,
                ),
            ],
            vector="PROGRAM [ARG...]",
        ),
        Subcommand(
            "mcp",
            handler("mcp_command", "serve_mcp"),
            "serve MCP on stdio: tools that list the names and run commands with {{KEY}} "
            "placeholders, never showing a value",
            "QUILLBOX_KEY=... quillbox mcp --vault ~/vaults/team.vault --deny ~/.config/agent",
            options=[
                Option(
                    "--workspace",
                    "serve from DIR: the commands start there and may read and write it "
                    "(default: the working directory, which must not hold your home)",
                    metavar="DIR",
                ),
                *sandbox_options("the commands"),
                Option(
                    "--no-sandbox",
                    "run the commands as you, able to read what you can: the vault file and "
                    "the passphrase's source included (default: each in a sandbox that "
                    "reaches the system, the working directory, the temporary folders and "
                    "the network)",
                    switch=True,
                ),
            ],
        ),
    ],
    version=version,
    environment=[
        (
            DEFAULT_KEY_ENV,
            "the master passphrase (unless --key-env names another variable); on a terminal, a "
            "command asks for it when it is unset",
        ),
        (VAULT_ENV, "the vault file, when --vault is not given"),
    ],
)


def parse_arguments(argv: Sequence[str]) -> Arguments:
    args = COMMAND_LINE.parse(argv)
    if args.subcommand == "run":
        if (args.command is None) == (args.argument_vector is None):
            COMMAND_LINE.error(
                args, "takes either COMMAND or -- PROGRAM [ARG...], not both or neither"
            )
        if args.argument_vector == []:
            COMMAND_LINE.error(args, "-- needs a PROGRAM")
        if args.clean_env and args.inherit_env:
            COMMAND_LINE.error(args, "takes --clean-env or --inherit-env, not both")
        if args.env_entries and args.env_entry:
            COMMAND_LINE.error(
                args, "takes --env-entries (every entry) or --env-entry NAME, not both"
            )
    if args.subcommand == "rekey" and args.keep_passphrase:
        if args.new_key_env is not None:
            COMMAND_LINE.error(args, "takes --keep-passphrase or --new-key-env NAME, not both")
        if (args.m_cost, args.t_cost, args.p_cost) == (None, None, None):
            COMMAND_LINE.error(
                args,
                "--keep-passphrase changes only the costs: give --m-cost, --t-cost or --p-cost",
            )
    return args
