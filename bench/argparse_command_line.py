"""The reference of bench/command_line.py: `quillbox`'s command line read by
argparse instead of its own grammar, as cheaply as argparse allows.

argparse is imported when the command starts, not before, and only the parser
of the subcommand named is filled in; the others are added bare, so that the
command's help still lists them. The options, their values' conversions and
the handlers are quillbox's own, taken from `quillbox.cli.COMMAND_LINE`.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import Any


def main(argv: Sequence[str]) -> int:
    import argparse

    from quillbox import cli
    from quillbox.cli.command_line import Option

    line = cli.COMMAND_LINE

    def add_options(parser: argparse.ArgumentParser, options: list[Option], inner: bool) -> None:
        for option in options:
            # A common option given after the subcommand must not reset one given before.
            settings: dict[str, Any] = {
                "help": option.help,
                "default": argparse.SUPPRESS if inner else option.initial_value(),
            }
            if option.switch:
                settings["action"] = "store_true"
            else:
                settings["metavar"] = option.metavar
                settings["action"] = "append" if option.repeatable else "store"
                if option.convert is not None:
                    settings["type"] = option.convert
            parser.add_argument(option.flag, **settings)

    parser = argparse.ArgumentParser(prog=line.prog, description=line.description)
    add_options(parser, line.common, inner=False)
    subparsers = parser.add_subparsers(dest="subcommand", required=True)
    named = next((word for word in argv if word in line.subcommands), None)
    for name, sub in line.subcommands.items():
        subparser = subparsers.add_parser(name, help=sub.summary)
        if name != named:
            continue
        add_options(subparser, line.common, inner=True)
        add_options(subparser, sub.options, inner=False)
        for positional in sub.positionals:
            subparser.add_argument(
                positional.dest, help=positional.help, nargs=None if positional.required else "?"
            )
        if sub.vector is not None:
            subparser.add_argument("argument_vector", nargs=argparse.REMAINDER)
        subparser.set_defaults(handler=sub.handler)
    args = parser.parse_args(argv)
    args.vault = cli.vault_path(args)
    status: int = args.handler(args)
    return status
