"""Dotenv text: the variables that lines of `NAME=value` set.

One variable a line, `NAME=value`, with an optional `export ` before the name
and blanks around the `=`; blank lines and lines that begin with `#` are
skipped. A value is

- in single quotes: taken as written, backslashes included;
- in double quotes: with the escapes `\\n`, `\\t`, `\\"` and `\\\\` (no other);
- unquoted: trimmed, and ended by a `#` that follows a blank (`A=b # note`),
  while `A=b#c` keeps its `#`.

After a closing quote only blanks and a `#` comment may follow; a quote must
close on its own line. Nothing is expanded: `$VAR` stays as written. A name
set twice keeps its last value.

Every error names the source and the line, and never quotes the line, which
may hold a secret.
"""

from __future__ import annotations

ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}
BLANKS = " \t"


class EnvFileError(ValueError):
    """A line that is not dotenv syntax, or a file that is not text; the
    message names the file and the line, never a value."""


class BadLine(Exception):
    """What is wrong with one line, before its place is known."""


def parse_env_text(text: str, source: str) -> dict[str, str]:
    """The variables `text` sets, in the order they first appear; `source`
    names the text in errors (a file's path)."""
    variables: dict[str, str] = {}
    for number, line in enumerate(text.split("\n"), start=1):
        try:
            variable = parse_line(line[:-1] if line.endswith("\r") else line)
        except BadLine as problem:
            raise EnvFileError(f"{source}, line {number}: {problem}") from None
        if variable is not None:
            name, value = variable
            variables[name] = value
    return variables


def parse_line(line: str) -> tuple[str, str] | None:
    """The variable a line sets, or None for a blank line or a comment."""
    text = line.strip(BLANKS)
    if not text or text.startswith("#"):
        return None
    words = text.split(maxsplit=1)
    if len(words) == 2 and words[0] == "export":
        text = words[1]
    name, equals, rest = text.partition("=")
    if not equals:
        raise BadLine("expected NAME=value")
    name = name.rstrip(BLANKS)
    if not (name.isascii() and name.isidentifier()):
        raise BadLine(
            "invalid variable name — names match [A-Za-z_][A-Za-z0-9_]* (start with a letter "
            "or underscore, contain only letters, digits, and underscores)"
        )
    return name, parse_value(rest)


def parse_value(written: str) -> str:
    """The value that the text after a line's `=` stands for."""
    text = written.lstrip(BLANKS)
    if text.startswith("'"):
        end = text.find("'", 1)
        if end < 0:
            raise BadLine("the single quote is not closed on this line")
        value, after = text[1:end], text[end + 1 :]
    elif text.startswith('"'):
        value, after = double_quoted(text)
    else:
        return unquoted(written)
    after = after.lstrip(BLANKS)
    if after and not after.startswith("#"):
        raise BadLine("text after the closing quote (quote the whole value)")
    return value


def double_quoted(text: str) -> tuple[str, str]:
    """The value between the double quotes that begin `text`, its escapes
    undone, and what follows the closing quote."""
    value: list[str] = []
    index = 1
    while index < len(text):
        character = text[index]
        if character == '"':
            return "".join(value), text[index + 1 :]
        if character == "\\":
            escaped = ESCAPES.get(text[index + 1 : index + 2])
            if escaped is None:
                raise BadLine(
                    'unknown escape in double quotes (\\n, \\t, \\" and \\\\ are known; '
                    "single quotes take a backslash as written)"
                )
            value.append(escaped)
            index += 2
            continue
        value.append(character)
        index += 1
    raise BadLine("the double quote is not closed on this line")


def unquoted(text: str) -> str:
    """An unquoted value up to a `#` that follows a blank, trimmed."""
    for index in range(1, len(text)):
        if text[index] == "#" and text[index - 1] in BLANKS:
            return text[:index].strip(BLANKS)
    return text.strip(BLANKS)
