"""The grammar of a command with subcommands, as other tools have taught people
to write one: options before or after the subcommand and between its
arguments, `--name=value` or `--name value`, `--` to end the options (and to
start the argument vector of a subcommand that takes one), `-h`/`--help`
anywhere before that, `help [COMMAND]`, and usage errors with exit status 2.

It holds what the `quillbox` command needs and no more. Everything it imports
on the way to a subcommand is loaded already when Python starts, so a start of
the command spends a fraction of a millisecond here instead of the tens that a
general-purpose parser takes to import and build (bench/command_line.py).

A message never repeats a word that could be a value: a word out of place is
named by its position on the command line; only what has the shape of an
option name (`--vault`, `-x`) is shown as typed.
"""

from __future__ import annotations

import sys

from quillbox.cli.command_line_help import help_text, usage

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence
    from typing import Any, Callable, NoReturn

HELP_FLAGS = ("-h", "--help")
VERSION_FLAG = "--version"
END_OF_OPTIONS = "--"
HELP_COMMAND = "help"
USAGE_ERROR_EXIT_CODE = 2


class Option:
    """`--name VALUE`, or a switch `--name` that holds True once given. A
    repeatable option collects its values in a list of each parse's own."""

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
        self.default = False if switch else default
        self.convert = convert
        self.repeatable = repeatable
        self.switch = switch

    def initial_value(self) -> Any:
        return [] if self.repeatable else self.default

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
    """The whole command: its options common to every subcommand, which are
    taken before the subcommand or after it, and its subcommands. `environment`
    names the variables the command reads, for its help."""

    def __init__(
        self,
        prog: str,
        description: str,
        example: str,
        common: Sequence[Option],
        subcommands: Sequence[Subcommand],
        version: Callable[[], str],
        environment: Sequence[tuple[str, str]] = (),
    ) -> None:
        self.prog = prog
        self.description = description
        self.example = example
        self.common = list(common)
        self.subcommands = {sub.name: sub for sub in subcommands}
        self.version = version
        self.environment = list(environment)

    def parse(self, argv: Sequence[str]) -> Arguments:
        """The arguments of one subcommand, with `subcommand` and `handler`;
        help and the version end the process with status 0, a usage error with
        status 2."""
        return Parse(self, argv).arguments()

    def error(self, arguments: Arguments, message: str) -> NoReturn:
        """A usage error found after parsing, such as two arguments that
        exclude each other."""
        sub = self.subcommands[arguments.subcommand]
        fail(f"{self.prog} {sub.name}: {message}", usage(self, sub))


class Parse:
    """One parse of one command line: its words, how far it has read them, the
    subcommand once known and the values so far."""

    def __init__(self, line: CommandLine, argv: Sequence[str]) -> None:
        self.line = line
        self.words = list(argv)
        self.read = 0  # the words read; the last one read is argument number `read`
        self.sub: Subcommand | None = None
        self.options_ended = False
        self.options: dict[str, Option] = {}
        self.values: dict[str, Any] = {}
        self.declare(line.common)

    def arguments(self) -> Arguments:
        self.refuse_text_that_is_not_utf8()
        sub = self.sub = self.subcommand()
        self.declare(sub.options)
        self.values.update({positional.dest: None for positional in sub.positionals})
        self.values.update(subcommand=sub.name, handler=sub.handler, argument_vector=None)
        if self.options_ended:
            self.take_argument_vector()
        positionals = list(sub.positionals)
        while (word := self.next_word()) is not None:
            if not self.options_ended:
                if word == END_OF_OPTIONS:
                    self.options_ended = True
                    self.take_argument_vector()
                    continue
                if word in HELP_FLAGS:
                    finish(help_text(self.line, sub))
                if is_option(word):
                    self.take_option(word)
                    continue
            if not positionals:
                self.fail(self.one_too_many(sub))
            self.values[positionals.pop(0).dest] = word
        missing = [positional.metavar for positional in positionals if positional.required]
        if missing:
            self.fail(f"missing {' '.join(missing)}")
        return Arguments(self.values)

    # --- the parts of a command line --------------------------------------------

    def subcommand(self) -> Subcommand:
        """The subcommand, once the common options before it are taken."""
        while (word := self.next_word()) is not None:
            if not self.options_ended:
                if word == END_OF_OPTIONS:
                    self.options_ended = True
                    continue
                if word in HELP_FLAGS:
                    # `--help COMMAND` is that command's help, as `help COMMAND` is.
                    finish(help_text(self.line, self.line.subcommands.get(self.peek() or "")))
                if is_option(word):
                    self.take_option(word)
                    continue
            if word == HELP_COMMAND:
                self.show_help_of_the_command_asked()
            sub = self.line.subcommands.get(word)
            if sub is None:
                self.fail(self.unknown_command(word))
            return sub
        self.fail("a COMMAND is needed")

    def show_help_of_the_command_asked(self) -> NoReturn:
        """`help`, `help COMMAND`."""
        asked = [word for word in self.words[self.read :] if word not in HELP_FLAGS]
        if len(asked) > 1:
            self.fail(f"{HELP_COMMAND} takes one COMMAND at most")
        if not asked or asked[0] == HELP_COMMAND:
            finish(help_text(self.line))
        sub = self.line.subcommands.get(asked[0])
        if sub is None:
            self.read = self.words.index(asked[0], self.read) + 1
            self.fail(self.unknown_command(asked[0]))
        finish(help_text(self.line, sub))

    def take_option(self, word: str) -> None:
        if word == VERSION_FLAG:
            finish(self.line.version())
        flag, has_value, value = word.partition("=") if word.startswith("--") else (word, "", "")
        option = self.options.get(flag)
        if option is None:
            self.fail(self.unknown_option(flag))
        if option.switch:
            if has_value:
                self.fail(f"{flag} takes no value")
            self.values[option.dest] = True
            return
        if not has_value:
            # Whatever follows is the value, even a word that starts with -.
            following = self.next_word()
            if following is None:
                self.fail(f"{flag} needs a value: {option.shown()}")
            value = following
        try:
            converted = option.convert(value) if option.convert else value
        except ValueError as error:
            self.fail(f"{flag}: {error}")
        if option.repeatable:
            self.values[option.dest].append(converted)
        else:
            self.values[option.dest] = converted

    def take_argument_vector(self) -> None:
        """Once the options have ended, every word left is the argument vector
        of a subcommand that takes one."""
        if self.sub is not None and self.sub.vector is not None:
            self.values["argument_vector"] = self.words[self.read :]
            self.read = len(self.words)

    # --- what is wrong ----------------------------------------------------------

    def refuse_text_that_is_not_utf8(self) -> None:
        for position, word in enumerate(self.words, start=1):
            if not word.isascii():
                try:
                    word.encode()
                except UnicodeEncodeError:
                    self.read = position
                    self.fail(f"argument {position} is not UTF-8 text, as every argument must be")

    def unknown_command(self, word: str) -> str:
        names = [*self.line.subcommands, HELP_COMMAND]
        suggestion = closest(word, names)
        return f"argument {self.read} is no COMMAND (one of {', '.join(names)}){suggestion}"

    def unknown_option(self, flag: str) -> str:
        """What the option is not, and what was probably meant."""
        sub = self.sub
        if looks_like_an_option_name(flag):
            message = f"unknown option {flag}"
        else:
            message = f"argument {self.read} starts with - and is no option"
        owners = [name for name, each in self.line.subcommands.items() if has_option(each, flag)]
        if owners:
            message += f": an option of {', '.join(owners)}"
            if sub is None:
                message += ", to give after the COMMAND"
        else:
            message += closest(flag, [*self.options, *HELP_FLAGS])
        if sub is not None and (sub.positionals or sub.vector):
            message += "; an argument that starts with - goes after --"
        return message

    def one_too_many(self, sub: Subcommand) -> str:
        if sub.vector is not None:
            return (
                f"argument {self.read} is one word too many: quote the command to give it as "
                f"one COMMAND, or put -- before its words: {self.line.prog} {sub.name} "
                f"[options] -- {sub.vector}"
            )
        taken = " ".join(positional.metavar for positional in sub.positionals) or "no arguments"
        return f"argument {self.read} is one too many: {sub.name} takes {taken}"

    def fail(self, message: str) -> NoReturn:
        if self.sub is None:
            fail(f"{self.line.prog}: {message}", usage(self.line))
        fail(f"{self.line.prog} {self.sub.name}: {message}", usage(self.line, self.sub))

    # --- reading and declaring --------------------------------------------------

    def peek(self) -> str | None:
        return self.words[self.read] if self.read < len(self.words) else None

    def next_word(self) -> str | None:
        if self.read == len(self.words):
            return None
        self.read += 1
        return self.words[self.read - 1]

    def declare(self, options: Sequence[Option]) -> None:
        for option in options:
            self.options[option.flag] = option
            self.values[option.dest] = option.initial_value()


def is_option(word: str) -> bool:
    """A lone `-` is an argument, as many programs take it for standard input."""
    return word.startswith("-") and word != "-"


def looks_like_an_option_name(flag: str) -> bool:
    """`-x` or `--some-name`: a word that no value of quillbox's takes the
    shape of, and so may be repeated in a message."""
    if flag.startswith("--"):
        name = flag[2:].replace("-", "")
        return 0 < len(flag) <= 42 and name.isascii() and name.isalnum()
    return len(flag) == 2 and flag.isascii() and flag[1].isalnum()


def has_option(sub: Subcommand, flag: str) -> bool:
    return any(option.flag == flag for option in sub.options)


def closest(word: str, known: list[str]) -> str:
    """`; did you mean X?` for the closest of the known words, or nothing.
    difflib is imported on this path only."""
    import difflib

    matches = difflib.get_close_matches(word, known, n=1)
    return f"; did you mean {matches[0]}?" if matches else ""


def finish(text: str) -> NoReturn:
    sys.stdout.write(text + "\n")
    raise SystemExit(0)


def fail(message: str, usage_line: str) -> NoReturn:
    sys.stderr.write(f"{usage_line}\n{message}\n")
    raise SystemExit(USAGE_ERROR_EXIT_CODE)
