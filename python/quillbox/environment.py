"""The environments of the commands quillbox runs, for `Vault.run_with` and for
`quillbox run` and `quillbox mcp`, which use these same functions.

`base_environment()` and `inherited_environment()` are taken from this process
and go to `run_with`'s `base_env`, passed on as they are; `read_env_file()` and
`entries_environment()` give variables whose values hold placeholders, for its
`env`. No environment made here ever holds the master passphrase's variable.
"""

from __future__ import annotations

import os

from quillbox._dotenv import EnvFileError, parse_env_text

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable, Mapping

    from quillbox._native import Vault

__all__ = [
    "EnvFileError",
    "base_environment",
    "entries_environment",
    "inherited_environment",
    "read_env_file",
    "sandboxed_environment",
]

DEFAULT_KEY_ENV = "QUILLBOX_KEY"
# What most programs need to be found, to find their files and to speak the
# user's language; every LC_* variable too.
BASE_VARIABLES = frozenset({"PATH", "HOME", "USER", "LOGNAME", "LANG", "TERM", "TZ", "TMPDIR"})
UTF8_BOM = b"\xef\xbb\xbf"  # which some editors write first, and is no part of the text


def base_environment(key_env: str | None = None) -> dict[str, str]:
    """PATH, HOME, USER, LOGNAME, LANG, every LC_*, TERM, TZ and TMPDIR, each
    as this process has it, where it has it; never QUILLBOX_KEY nor `key_env`,
    the variable that holds the master passphrase."""
    return {
        name: value
        for name, value in inherited_environment(key_env).items()
        if name in BASE_VARIABLES or name.startswith("LC_")
    }


def inherited_environment(key_env: str | None = None) -> dict[str, str]:
    """All of this process's environment but QUILLBOX_KEY and `key_env`, the
    variable that holds the master passphrase."""
    passphrases = {DEFAULT_KEY_ENV, key_env}
    return {name: value for name, value in os.environ.items() if name not in passphrases}


def sandboxed_environment(variables: Mapping[str, str]) -> dict[str, str]:
    """`variables` but HOME, for a command in a sandbox, which keeps the home out
    of reach: a program such as git fails on a configuration file there that it
    may not read, and goes on without one where there is no HOME."""
    return {name: value for name, value in variables.items() if name != "HOME"}


def read_env_file(path: str | os.PathLike[str]) -> dict[str, str]:
    """The variables a dotenv file sets: `NAME=value` lines, `export ` allowed,
    `#` comments, values in single quotes as written or in double quotes with
    the escapes \\n, \\t, \\" and \\\\; no `$VAR` expansion. Values may hold
    placeholders, to be filled by `run_with(env=...)`. A line that is not of
    this syntax, or a file that is not UTF-8, raises `EnvFileError` naming the
    file and the line, never a value; a file that cannot be read, `OSError`."""
    with open(path, "rb") as file:
        data = file.read()
    data = data.removeprefix(UTF8_BOM)
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        line = data.count(b"\n", 0, error.start) + 1
        raise EnvFileError(f"{os.fsdecode(path)}, line {line}: not UTF-8 text") from None
    return parse_env_text(text, os.fsdecode(path))


def entries_environment(vault: Vault, names: Iterable[str] | None = None) -> dict[str, str]:
    """Vault entries as variables of the same name, each value the entry's
    placeholder (`{"API_TOKEN": "{{API_TOKEN}}"}`), for `run_with(env=...)`:
    every entry, or those `names` gives. A name with no entry fails the run
    as any unresolved placeholder does."""
    chosen = vault.list_keys() if names is None else names
    return {name: "{{" + name + "}}" for name in chosen}
