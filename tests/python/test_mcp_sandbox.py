"""The attack an agent can make on the user who runs `quillbox mcp`: read the
passphrase from the MCP client's configuration, read the vault file, decrypt
it, plant an entry. The server runs without capabilities, as a user's would,
and is driven by the MCP SDK's own client; under its default sandbox every
step fails, while git, curl and Python scripts in the workspace work."""

from __future__ import annotations

import asyncio
import http.server
import json
import subprocess
import sys
import threading
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import NamedTuple

import anyio
import pytest
from conftest import require_sandbox, unprivileged
from mcp import ClientSession, StdioServerParameters
from mcp.client.stdio import stdio_client
from mcp.types import CallToolResult

PASSPHRASE = "the master passphrase of this user"
TOKEN = "ghp-7c1d0e5b9a2f4c6e8d0b"
PYTHON = ["python3"]  # the system's interpreter, as an agent's script would use


class Layout(NamedTuple):
    home: Path
    workspace: Path
    vault: Path
    client_config: Path


def quillbox(*arguments: str, stdin: str = "") -> None:
    done = subprocess.run(
        [sys.executable, "-m", "quillbox", *arguments],
        input=stdin,
        capture_output=True,
        text=True,
        env={"QUILLBOX_KEY": PASSPHRASE},
        timeout=60,
    )
    assert done.returncode == 0, done.stderr


@pytest.fixture(params=["own-folder", "in-workspace"])
def layout(request, home: Path) -> Layout:
    return make_layout(home, vault_in_workspace=request.param == "in-workspace")


@pytest.fixture
def plain_layout(home: Path) -> Layout:
    return make_layout(home, vault_in_workspace=False)


def make_layout(home: Path, vault_in_workspace: bool) -> Layout:
    """A user's home: the client's configuration holding the passphrase, and a
    workspace that is a git repository with a script; the vault either in a
    folder of its own in the home, or at the workspace's top."""
    require_sandbox()
    workspace = home / "project"
    (workspace / "tools").mkdir(parents=True)
    (workspace / "tools" / "report.py").write_text(
        "import pathlib\nreport = pathlib.Path('tools/out/report.txt')\n"
        "report.parent.mkdir(exist_ok=True)\nreport.write_text('made by a script')\n"
        "print(report.read_text())\n"
    )
    (workspace / ".gitignore").write_text("*.vault*\n")
    subprocess.run(["git", "init", "-q", str(workspace)], check=True)
    config = home / ".config" / "agent" / "config.json"
    config.parent.mkdir(parents=True)
    server = {"command": "quillbox", "args": ["mcp"], "env": {"QUILLBOX_KEY": PASSPHRASE}}
    config.write_text(json.dumps({"mcpServers": {"quillbox": server}}))
    config.chmod(0o600)
    if vault_in_workspace:
        vault = workspace / "team.vault"
    else:
        vault = home / ".local" / "share" / "quillbox" / "vault.bin"
        vault.parent.mkdir(parents=True)
    quillbox("init", "--vault", str(vault), "--m-cost", "8", "--t-cost", "1")
    quillbox("set", "TOKEN", "--vault", str(vault), stdin=TOKEN)
    return Layout(home, workspace, vault, config)


@pytest.fixture
def local_site(tmp_path: Path) -> Iterator[str]:
    """An HTTP server on the loopback interface, serving one page."""
    (tmp_path / "site").mkdir()
    (tmp_path / "site" / "index.html").write_text("served locally\n")

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *arguments, **keywords):
            super().__init__(*arguments, directory=str(tmp_path / "site"), **keywords)

        def log_message(self, *arguments) -> None:
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Quiet)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}/index.html"
    server.shutdown()


# The interpreter that runs quillbox lies in a home too; the agent's `quillbox
# set` needs to read it.
READ_THE_INTERPRETER = ("--allow-read", sys.prefix, "--allow-read", sys.base_prefix)


def calls_to_server(
    layout: Layout,
    calls: list[dict],
    options: Sequence[str] = READ_THE_INTERPRETER,
    start_in: Path | None = None,
) -> list[CallToolResult]:
    """Starts `quillbox mcp` without capabilities in `start_in` (by default the
    workspace), makes each run_command call in turn, and returns the results."""
    prefix = unprivileged()
    command = [*prefix, sys.executable, "-m", "quillbox", "mcp", "--vault", str(layout.vault)]
    command += options
    server = StdioServerParameters(
        command=command[0],
        args=command[1:],
        env={"QUILLBOX_KEY": PASSPHRASE},
        cwd=str(start_in or layout.workspace),
    )

    async def run() -> list[CallToolResult]:
        with anyio.fail_after(90):
            async with stdio_client(server) as (read, write), ClientSession(read, write) as session:
                await session.initialize()
                return [await session.call_tool("run_command", call) for call in calls]

    return asyncio.run(run())


def stolen(result: CallToolResult) -> bool:
    return result.structured_content["exit_code"] == 0


def test_the_attack_fails_at_every_step_and_work_goes_on(layout: Layout, local_site: str):
    vault_before = layout.vault.read_bytes()
    plant = [sys.executable, "-m", "quillbox", "set", "PLANTED", "--vault", str(layout.vault)]
    attack = [
        {"command": ["cat", str(layout.client_config)]},
        {"command": ["base64", "-w0", str(layout.client_config)]},
        {"command": ["cat", str(layout.vault)]},
        {"command": [*PYTHON, "-c", f"print(open({str(layout.vault)!r}, 'rb').read().hex())"]},
        {"command": ["cp", str(layout.vault), "stolen.vault"]},
        {"command": plant, "env": {"QUILLBOX_KEY": PASSPHRASE}, "input": "planted-value"},
        {
            "command": ["sh", "-c", 'cat "$HOME"/.config/agent/config.json'],
            "env": {"HOME": str(layout.home)},
        },
    ]
    work = [
        {"command": ["git", "add", "tools", ".gitignore"]},
        {
            "command": [
                "git",
                "-c",
                "user.name=Agent",
                "-c",
                "user.email=agent@example.com",
                "commit",
                "-qm",
                "Add the report script",
            ]
        },
        {"command": ["git", "log", "--format=%s"]},
        {"command": ["curl", "-sS", local_site]},
        {"command": [*PYTHON, "tools/report.py"]},
    ]
    results = calls_to_server(layout, attack + work)

    for call, result in zip(attack, results):
        assert not stolen(result), call
        assert PASSPHRASE not in result.model_dump_json()
    for call, result in zip(work, results[len(attack) :]):
        assert result.structured_content["exit_code"] == 0, (call, result.structured_content)
    git_log, page, report = (r.structured_content["stdout"] for r in results[-3:])
    assert (git_log, page, report) == (
        "Add the report script\n",
        "served locally\n",
        "made by a script\n",
    )
    assert layout.vault.read_bytes() == vault_before


def test_without_the_sandbox_the_same_command_reads_the_configuration(plain_layout: Layout):
    layout = plain_layout
    (result,) = calls_to_server(
        layout, [{"command": ["base64", "-w0", str(layout.client_config)]}], ["--no-sandbox"]
    )
    assert stolen(result)


def test_a_workspace_that_holds_the_home_is_refused_unless_one_is_given(plain_layout: Layout):
    layout = plain_layout
    for start_in in ("/", str(Path.home())):
        refused = subprocess.run(
            [sys.executable, "-m", "quillbox", "mcp", "--vault", str(layout.vault)],
            capture_output=True,
            text=True,
            env={"QUILLBOX_KEY": PASSPHRASE},
            cwd=start_in,
            timeout=60,
        )
        assert refused.returncode == 1
        assert refused.stderr.startswith(
            f"quillbox: the workspace would be {start_in}, which holds"
        )
    (pwd,) = calls_to_server(
        layout, [{"command": ["pwd"]}], ["--workspace", str(layout.workspace)], start_in=Path("/")
    )
    assert pwd.structured_content["stdout"] == f"{layout.workspace}\n"
