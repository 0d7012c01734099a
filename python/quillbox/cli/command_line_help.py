"""What the command shows of its grammar: usage lines and help texts, in two
columns wrapped to the terminal's width.

It imports nothing that Python has not loaded at its start (no shutil, no
textwrap, which would bring in the regular-expression engine), so that
`quillbox --help` starts as fast as any other subcommand.
"""

from __future__ import annotations

import os
import sys

TYPE_CHECKING = False
if TYPE_CHECKING:
    from quillbox.cli.command_line import CommandLine, Subcommand

DEFAULT_WIDTH = 80
NARROWEST_TEXT = 30


def usage(line: CommandLine, sub: Subcommand | None = None) -> str:
    if sub is None:
        indent = " " * len("usage: ")
        return (
            f"usage: {line.prog} [options] COMMAND [options] [arguments]\n"
            f"{indent}{line.prog} help [COMMAND]"
        )
    words = [f"usage: {line.prog} {sub.name} [options]"]
    for positional in sub.positionals:
        words.append(positional.metavar if positional.required else f"[{positional.metavar}]")
    if sub.vector is not None:
        words.append(f"[-- {sub.vector}]")
    return " ".join(words)


def help_text(line: CommandLine, sub: Subcommand | None = None) -> str:
    """The command's help, or a subcommand's."""
    if sub is None:
        commands = [(name, each.summary) for name, each in line.subcommands.items()]
        commands.append(("help [COMMAND]", "show this help, or a COMMAND's"))
        options = [(option.shown(), option.help) for option in line.common]
        options += [("-h, --help", "show this help and exit"), ("--version", "show the version")]
        sections = [
            usage(line),
            line.description,
            "commands:\n" + table(commands),
            "options of every COMMAND, given before it or after it:\n" + table(options),
        ]
        if line.environment:
            sections.append("environment:\n" + table(line.environment))
        sections.append(f"example: {line.example}")
        return "\n\n".join(sections)
    rows = [(positional.metavar, positional.help) for positional in sub.positionals]
    rows += [(option.shown(), option.help) for option in sub.options + line.common]
    rows.append(("-h, --help", "show this help and exit"))
    if sub.positionals and sub.vector is None:
        taken = " or ".join(positional.metavar for positional in sub.positionals)
        rows.append(("--", f"end the options: a {taken} that starts with - goes after it"))
    sections = [
        usage(line, sub),
        sub.summary,
        "arguments:\n" + table(rows),
        f"example: {sub.example}",
    ]
    return "\n\n".join(sections)


def table(rows: list[tuple[str, str]]) -> str:
    """Two columns: each name, then its text, aligned and wrapped to the
    terminal's width."""
    name_width = max(len(name) for name, _ in rows) + 2
    text_width = max(terminal_width() - name_width - 2, NARROWEST_TEXT)
    lines = []
    for name, text in rows:
        first, *rest = wrapped(text, text_width)
        lines.append(f"  {name.ljust(name_width)}{first}".rstrip())
        lines.extend(" " * (name_width + 2) + line for line in rest)
    return "\n".join(lines)


def wrapped(text: str, width: int) -> list[str]:
    """The words of `text` in lines of at most `width` characters; a word
    longer than that stands alone on its line."""
    lines: list[str] = []
    line = ""
    for word in text.split():
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    return [*lines, line]


def terminal_width() -> int:
    """COLUMNS where it is a number, else the width of the terminal that
    standard output is, else 80."""
    columns = os.environ.get("COLUMNS", "")
    if columns.isascii() and columns.isdigit() and int(columns) > 0:
        return int(columns)
    try:
        return os.get_terminal_size(sys.stdout.fileno()).columns
    except (OSError, ValueError):
        return DEFAULT_WIDTH
