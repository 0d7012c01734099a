"""The `quillbox` command: create a vault, manage its entries, run commands.

Secret values never travel on the command line (where shell history and the
process list would keep them): `set` reads the value from standard input or a
file, and the master passphrase comes from an environment variable or, on a
terminal, is asked for without echo.

`grammar` declares what the command takes; `main` reads the command line by it,
and `dispatch` carries out the subcommand, whose handler lives in
`vault_commands`, `run_command` or `mcp_command`.
"""

from quillbox.cli.grammar import COMMAND_LINE, parse_arguments
from quillbox.cli.main import main
from quillbox.cli.vault_access import vault_path

__all__ = ["COMMAND_LINE", "main", "parse_arguments", "vault_path"]
