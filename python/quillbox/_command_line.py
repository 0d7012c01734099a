"""The grammar of a command with subcommands: options, positionals, an argument
vector after `--`, help, and usage errors with exit status 2.

It holds what the `quillbox` command needs and no more. Everything it imports
is loaded already when Python starts, so a start of the command spends a
fraction of a millisecond here instead of the ten that a general-purpose
parser takes to import and build.
"""

from __future__ import annotations

import sys

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence
    from typing import Any, Callable, NoReturn

HELP_FLAGS = ("-h", "--help")


class Option:
    """`--name VALUE`, or a switch `--name` that holds True once given. A
    repeatable option collects its values in a list."""

    def __init__(
        self,
        flag: str,
        help: str,
        *,
        metavar: str | None = None,
        default: Any = None,
        convert: Callable[[str], Any] | None = None,
        repeatable: bool = False,
        switch: bool = False,
    ) -> None:
        self.flag = flag
        self.dest = flag.lstrip("-").replace("-", "_")
        self.help = help
        self.metavar = metavar or self.dest.upper()
        self.default = False if switch else ([] if repeatable else default)
        self.convert = convert
        self.repeatable = repeatable
        self.switch = switch

    def shown(self) -> str:
        return self.flag if self.switch else f"{self.flag} {self.metavar}"


class Positional:
    def __init__(self, dest: str, help: str = "", *, required: bool = True) -> None:
        self.dest = dest
        self.metavar = dest.upper()
        self.help = help
        self.required = required


class Subcommand:
    """One subcommand: what it takes, the function that carries it out, and
    the words its help shows. With `vector`, the words after `--` are its
    argument vector (`argument_vector`, None without a `--`)."""

    def __init__(
        self,
        name: str,
        handler: Callable[[Any], int],
        summary: str,
        example: str,
        options: Sequence[Option] = (),
        positionals: Sequence[Positional] = (),
        vector: str | None = None,
    ) -> None:
        self.name = name
        self.handler = handler
        self.summary = summary
        self.example = example
        self.options = list(options)
        self.positionals = list(positionals)
        self.vector = vector


class Arguments:
    """The parsed arguments, one attribute per option and positional."""

    def __init__(self, values: dict[str, Any]) -> None:
        self.__dict__.update(values)

    # Declared for type checkers, which cannot see the attributes set above;
    # only a name that was never set reaches it.
    def __getattr__(self, name: str) -> Any:
        raise AttributeError(name)


class CommandLine:
    def __init__(
        self,
        prog: str,
        description: str,
        example: str,
        common: Sequence[Option],
        subcommands: Sequence[Subcommand],
        version: Callable[[], str],
    ) -> None:
        self.prog = prog
        self.description = description
        self.example = example
        self.common = list(common)
        self.subcommands = {sub.name: sub for sub in subcommands}
        self.version = version

    def parse(self, argv: Sequence[str]) -> Arguments:
        """The arguments of one subcommand, with `subcommand` and `handler`;
        help and the version end the process with status 0, a usage error with
        status 2."""
        if not argv:
            self.fail(f"{self.prog}: a COMMAND is needed", self.usage())
        first, rest = argv[0], list(argv[1:])
        if first in HELP_FLAGS:
            self.finish(self.help())
        if first == "--version":
            self.finish(self.version())
        sub = self.subcommands.get(first)
        if sub is None:
            self.fail(
                f"{self.prog}: unknown COMMAND {first!r} (one of {', '.join(self.subcommands)})",
                self.usage(),
            )
        return self.parse_subcommand(sub, rest)

    def parse_subcommand(self, sub: Subcommand, words: list[str]) -> Arguments:
        options = {option.flag: option for option in self.common + sub.options}
        # A repeatable option's list is the parse's own, never the shared default.
        values: dict[str, Any] = {
            option.dest: list(option.default) if option.repeatable else option.default
            for option in options.values()
        }
        values.update({positional.dest: None for positional in sub.positionals})
        values.update(subcommand=sub.name, handler=sub.handler, argument_vector=None)
        positionals = list(sub.positionals)
        usage = self.usage(sub)

        def fail(message: str) -> NoReturn:
            self.fail(f"{self.prog} {sub.name}: {message}", usage)

        while words:
            word = words.pop(0)
            if word in HELP_FLAGS:
                self.finish(self.help(sub))
            if word == "--":
                if sub.vector is None:
                    fail("takes no argument vector after --")
                values["argument_vector"] = words
                break
            if word.startswith("--"):
                flag, has_value, value = word.partition("=")
                option = options.get(flag)
                if option is None:
                    fail(f"unknown option {flag}")
                if option.switch:
                    if has_value:
                        fail(f"{flag} takes no value")
                    values[option.dest] = True
                    continue
                if not has_value:
                    if not words:
                        fail(f"{flag} needs a value: {option.shown()}")
                    value = words.pop(0)
                try:
                    converted = option.convert(value) if option.convert else value
                except ValueError as error:
                    fail(f"{flag}: {error}")
                if option.repeatable:
                    values[option.dest].append(converted)
                else:
                    values[option.dest] = converted
                continue
            if not positionals:
                fail(f"unexpected argument {word!r}")
            values[positionals.pop(0).dest] = word
        missing = [positional.metavar for positional in positionals if positional.required]
        if missing:
            fail(f"missing {' '.join(missing)}")
        return Arguments(values)

    def error(self, arguments: Arguments, message: str) -> NoReturn:
        """A usage error found after parsing, such as two arguments that
        exclude each other."""
        sub = self.subcommands[arguments.subcommand]
        self.fail(f"{self.prog} {sub.name}: {message}", self.usage(sub))

    # --- what is shown ----------------------------------------------------------

    def usage(self, sub: Subcommand | None = None) -> str:
        if sub is None:
            return f"usage: {self.prog} [--help] [--version] COMMAND [options]"
        words = [f"usage: {self.prog} {sub.name} [options]"]
        for positional in sub.positionals:
            words.append(positional.metavar if positional.required else f"[{positional.metavar}]")
        if sub.vector is not None:
            words.append(f"[-- {sub.vector}]")
        return " ".join(words)

    def help(self, sub: Subcommand | None = None) -> str:
        if sub is None:
            rows = [(name, each.summary) for name, each in self.subcommands.items()]
            sections = [
                self.usage(),
                self.description,
                "commands:\n" + table(rows),
                f"example: {self.example}",
            ]
            return "\n\n".join(sections)
        rows = [(positional.metavar, positional.help) for positional in sub.positionals]
        rows += [(option.shown(), option.help) for option in sub.options + self.common]
        rows.append(("-h, --help", "show this help and exit"))
        sections = [
            self.usage(sub),
            sub.summary,
            "arguments:\n" + table(rows),
            f"example: {sub.example}",
        ]
        return "\n\n".join(sections)

    @staticmethod
    def finish(text: str) -> NoReturn:
        sys.stdout.write(text + "\n")
        raise SystemExit(0)

    @staticmethod
    def fail(message: str, usage: str) -> NoReturn:
        sys.stderr.write(f"{usage}\n{message}\n")
        raise SystemExit(2)


def table(rows: list[tuple[str, str]]) -> str:
    """Two columns: each name, then its text, aligned and wrapped to the
    terminal's width."""
    import shutil
    import textwrap

    name_width = max(len(name) for name, _ in rows) + 2
    text_width = max(shutil.get_terminal_size().columns - name_width - 2, 30)
    lines = []
    for name, text in rows:
        wrapped = textwrap.wrap(text, text_width) or [""]
        lines.append(f"  {name.ljust(name_width)}{wrapped[0]}".rstrip())
        lines.extend(" " * (name_width + 2) + line for line in wrapped[1:])
    return "\n".join(lines)
