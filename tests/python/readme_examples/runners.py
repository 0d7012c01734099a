"""Runs one block as the user `me` in the project folder: a shell block with
`bash -e` (standard input empty, or a terminal that answers its prompts), a
Python block with the virtual environment's python, the MCP configuration
with the SDK's client. Each gives the block's exit status, its output and, for
the last two, what `python_block.py` or `mcp_block.py` wrote."""

from __future__ import annotations

import json
import os
import pty
import select
import signal
import subprocess
import time
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any

from readme_examples.users import User

HERE = Path(__file__).resolve().parent
TIME_LIMIT = 120  # seconds a block may take before it counts as hung


# Run by `unshare --mount`: shows the block's own copy of the home ($0) at the
# home's path ($1), and starts the rest of the command in the project there.
AT_HOME = 'mount --bind "$0" "$1" && cd "$1/project" && shift && exec "$@"'


class Runner:
    """Runs blocks as `me`, each in a mount namespace of its own where `me`'s
    home is a copy that the block alone uses, so that blocks run side by side."""

    def __init__(self, me: User, environment: Mapping[str, str], folder: Path) -> None:
        self._me = me
        self._environment = dict(environment)
        self._folder = folder  # where the blocks' files go, readable by `me`
        self._python = str(me.home / "env" / "bin" / "python")

    def _as_me(self, home: Path, command: Sequence[str]) -> list[str]:
        at_home = ["unshare", "--mount", "--", "sh", "-c", AT_HOME, str(home), str(self._me.home)]
        return [*at_home, *self._me.setpriv(), *command]

    def _file(self, name: str, text: str) -> str:
        path = self._folder / name
        path.write_text(text)
        path.chmod(0o644)
        return str(path)

    def _result_file(self, name: str) -> Path:
        path = self._folder / name
        path.write_text("null")
        os.chown(path, self._me.uid, self._me.gid)
        return path

    def _run(self, home: Path, command: Sequence[str]) -> dict[str, Any]:
        finished = subprocess.run(
            self._as_me(home, command),
            env=self._environment,
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            timeout=TIME_LIMIT,
        )
        return {"status": finished.returncode, "stdout": finished.stdout, "stderr": finished.stderr}

    def shell(self, name: str, text: str, home: Path) -> dict[str, Any]:
        return self._run(home, ["bash", "-e", self._file(f"{name}.sh", text)])

    def python(self, name: str, text: str, home: Path, prelude: str) -> dict[str, Any]:
        result_file = self._result_file(f"{name}.result.json")
        command = [self._python, str(HERE / "python_block.py"), prelude, text, str(result_file)]
        ran = self._run(home, command)
        return {**ran, "result": json.loads(result_file.read_text())}

    def mcp(self, name: str, text: str, home: Path, calls: list[Any]) -> dict[str, Any]:
        result_file = self._result_file(f"{name}.result.json")
        command = [self._python, str(HERE / "mcp_block.py"), text, json.dumps(calls)]
        ran = self._run(home, [*command, str(result_file)])
        return {**ran, "result": json.loads(result_file.read_text())}

    def shell_on_a_terminal(
        self, name: str, text: str, home: Path, typed: Sequence[tuple[str, str]]
    ) -> dict[str, Any]:
        """Runs the block with a terminal as its controlling terminal; once the
        terminal shows each text of `typed` in turn, types what goes with it."""
        command = self._as_me(home, ["bash", "-e", self._file(f"{name}.sh", text)])
        environment = {**self._environment, "TERM": "dumb"}
        pid, terminal = pty.fork()
        if pid == 0:
            os.execvpe(command[0], command, environment)
        shown = b""
        seen_up_to = 0
        waiting = [(cue.encode(), answer.encode()) for cue, answer in typed]
        deadline = time.monotonic() + TIME_LIMIT
        try:
            while select.select([terminal], [], [], max(0.0, deadline - time.monotonic()))[0]:
                try:
                    chunk = os.read(terminal, 4096)
                except OSError:  # EIO: every process of the terminal has ended
                    break
                if not chunk:
                    break
                shown += chunk
                while waiting and (found := shown.find(waiting[0][0], seen_up_to)) >= 0:
                    seen_up_to = found + len(waiting[0][0])
                    os.write(terminal, waiting.pop(0)[1])
            else:
                os.killpg(pid, signal.SIGKILL)  # the terminal's session, all of it
        finally:
            os.close(terminal)
        _, status = os.waitpid(pid, 0)
        return {
            "status": os.waitstatus_to_exitcode(status),
            "stdout": shown.decode(errors="replace"),
            "stderr": "",
        }
