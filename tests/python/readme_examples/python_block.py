"""Runs one Python block of the README, as written, after a prelude that
defines the names the block uses without defining them. Then writes, as JSON to
the file named last, the run the block leaves: the RunResult its last
statement gives when that is an expression (as an interactive session would
show it), or else the one in its variable `result`.

Usage: python python_block.py PRELUDE BLOCK RESULT_FILE"""

from __future__ import annotations

import ast
import json
import sys


def main(prelude: str, block: str, result_file: str) -> None:
    namespace: dict[str, object] = {"__name__": "__main__"}
    exec(compile(prelude, "prelude", "exec"), namespace)
    statements = ast.parse(block).body
    last = statements[-1] if isinstance(statements[-1], ast.Expr) else None
    ahead = ast.Module(statements[:-1] if last else statements, type_ignores=[])
    exec(compile(ahead, "README.md", "exec"), namespace)
    if last is None:
        left = namespace.get("result")
    else:
        left = eval(compile(ast.Expression(last.value), "README.md", "eval"), namespace)
    sys.stdout.flush()
    fields = ("exit_code", "stdout", "stderr", "timed_out")
    with open(result_file, "w") as out:
        json.dump(None if left is None else {name: getattr(left, name) for name in fields}, out)


if __name__ == "__main__":
    main(*sys.argv[1:])
