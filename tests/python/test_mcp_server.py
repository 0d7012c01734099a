"""`quillbox mcp`, driven over stdio by the MCP SDK's own client, as an agent's host drives it."""

from __future__ import annotations

import asyncio
import base64
import os
import subprocess
import sys
import time
from collections.abc import AsyncIterator, Awaitable
from contextlib import asynccontextmanager
from pathlib import Path
from typing import Callable, TypeVar

import anyio
import pytest
from mcp import ClientSession, StdioServerParameters
from mcp.client.stdio import stdio_client
from mcp.types import CallToolResult

PASSPHRASE = "a demo passphrase of some length"
SECRETS = {"API_TOKEN": "sk-live-5d1e9c3a", "DB_PASSWORD": "hunter2-but-longer"}
ENCODED_TOKEN = base64.b64encode(SECRETS["API_TOKEN"].encode()).decode()

T = TypeVar("T")


def quillbox(
    *arguments: str, stdin: str = "", key: str | None = PASSPHRASE, python_code: str | None = None
) -> subprocess.CompletedProcess[str]:
    env = {name: value for name, value in os.environ.items() if name != "QUILLBOX_KEY"}
    if key is not None:
        env["QUILLBOX_KEY"] = key
    start = ["-c", python_code] if python_code else ["-m", "quillbox"]
    return subprocess.run(
        [sys.executable, *start, *arguments],
        input=stdin,
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )


@pytest.fixture(scope="module")
def vault_file(tmp_path_factory: pytest.TempPathFactory) -> Path:
    path = tmp_path_factory.mktemp("mcp") / "vault.bin"
    created = quillbox("init", "--vault", str(path), "--m-cost", "8", "--t-cost", "1")
    assert created.returncode == 0, created.stderr
    for name, value in SECRETS.items():
        assert quillbox("set", name, "--vault", str(path), stdin=value).returncode == 0
    return path


@asynccontextmanager
async def connected(vault_file: Path) -> AsyncIterator[ClientSession]:
    server = StdioServerParameters(
        command=sys.executable,
        args=["-m", "quillbox", "mcp", "--vault", str(vault_file)],
        env={"QUILLBOX_KEY": PASSPHRASE},
    )
    async with stdio_client(server) as (read, write), ClientSession(read, write) as session:
        await session.initialize()
        yield session


def with_session(vault_file: Path, scenario: Callable[[ClientSession], Awaitable[T]]) -> T:
    async def run() -> T:
        with anyio.fail_after(60):
            async with connected(vault_file) as session:
                return await scenario(session)

    return asyncio.run(run())


def text_of(result: CallToolResult) -> str:
    return "".join(block.text for block in result.content if block.type == "text")


def assert_no_secret(result: CallToolResult) -> None:
    dumped = result.model_dump_json()
    for value in (*SECRETS.values(), ENCODED_TOKEN):
        assert value not in dumped


def test_the_tools_teach_their_arguments(vault_file: Path):
    tools = {tool.name: tool for tool in with_session(vault_file, ClientSession.list_tools).tools}
    assert set(tools) == {"list_secrets", "run_command"}

    assert tools["list_secrets"].input_schema.get("required", []) == []
    assert tools["list_secrets"].input_schema["properties"] == {}

    run = tools["run_command"]
    schema = run.input_schema
    assert schema["required"] == ["command"]
    assert set(schema["properties"]) == {
        "command",
        "env",
        "input",
        "timeout_secs",
        "max_output_bytes",
    }
    assert {arm["type"] for arm in schema["properties"]["command"]["anyOf"]} == {"string", "array"}
    assert schema["properties"]["max_output_bytes"]["default"] == 256 * 1024
    assert schema["properties"]["timeout_secs"]["default"] == 300
    for taught in ("{{NAME}}", "{{file:NAME}}", "[REDACTED_NAME]", "env", "input", "262144"):
        assert taught in run.description
    assert set(run.output_schema["properties"]) == {"exit_code", "stdout", "stderr", "timed_out"}


def test_names_and_redacted_output_only(vault_file: Path):
    script = 'echo "$1"; echo "$T"; cat; cat "$F"; printf %s "$1" | base64 >&2; exit 3'

    async def scenario(session: ClientSession) -> list[CallToolResult]:
        return [
            await session.call_tool("list_secrets"),
            await session.call_tool(
                "run_command",
                {
                    "command": ["sh", "-c", script, "sh", "{{API_TOKEN}}"],
                    "env": {
                        "T": "{{DB_PASSWORD}}",
                        "F": "{{file:API_TOKEN}}",
                        "PATH": os.environ["PATH"],
                    },
                    "input": "{{DB_PASSWORD}}\n",
                },
            ),
            await session.call_tool("run_command", {"command": "echo 'the token: {{API_TOKEN}}'"}),
        ]

    listed, vector, string = with_session(vault_file, scenario)
    for result in (listed, vector, string):
        assert not result.is_error
        assert_no_secret(result)

    assert listed.structured_content == {"names": sorted(SECRETS)}

    assert vector.structured_content == {
        "exit_code": 3,
        "stdout": "[REDACTED_API_TOKEN]\n[REDACTED_DB_PASSWORD]\n[REDACTED_DB_PASSWORD]\n"
        "[REDACTED_API_TOKEN]",
        "stderr": "[REDACTED_API_TOKEN_B64]\n",
        "timed_out": False,
    }
    assert text_of(vector) == (
        "exit code 3\nstdout:\n[REDACTED_API_TOKEN]\n[REDACTED_DB_PASSWORD]\n"
        "[REDACTED_DB_PASSWORD]\n[REDACTED_API_TOKEN]\nstderr:\n[REDACTED_API_TOKEN_B64]\n"
    )
    assert string.structured_content["stdout"] == "the token: [REDACTED_API_TOKEN]\n"


def test_failures_come_back_as_tool_errors_and_the_server_keeps_serving(vault_file: Path):
    refused = {
        "echo {{NOPE}}": "placeholder error: unresolved placeholder",
        "echo a | b": "tokenization error: rejected shell metacharacter '|'",
        "no-such-program-here": "spawn error: command not found: no-such-program-here",
        5: "invalid arguments for run_command: command.str: Input should be a valid string; "
        "command.list[str]: Input should be a valid list",
    }

    async def scenario(session: ClientSession) -> tuple[list[CallToolResult], CallToolResult]:
        errors = [
            await session.call_tool("run_command", {"command": command}) for command in refused
        ]
        return errors, await session.call_tool("run_command", {"command": "echo still here"})

    errors, later = with_session(vault_file, scenario)
    for result, message in zip(errors, refused.values()):
        assert result.is_error
        assert text_of(result).startswith(message)
        assert "\n" not in text_of(result)
    assert not later.is_error
    assert later.structured_content["stdout"] == "still here\n"


def test_calls_overlap(vault_file: Path):
    async def scenario(session: ClientSession) -> tuple[float, list[CallToolResult]]:
        started = time.monotonic()
        results = await asyncio.gather(
            *(session.call_tool("run_command", {"command": "sleep 1"}) for _ in range(5))
        )
        return time.monotonic() - started, results

    elapsed, results = with_session(vault_file, scenario)
    assert [result.structured_content["exit_code"] for result in results] == [0] * 5
    assert elapsed < 2.5


def test_a_running_server_sees_what_the_command_line_saved_after_it_started(
    vault_file: Path, tmp_path: Path
):
    vault = tmp_path / "vault.bin"
    vault.write_bytes(vault_file.read_bytes())
    vault.chmod(0o600)

    async def scenario(session: ClientSession) -> tuple[CallToolResult, CallToolResult]:
        await session.call_tool("list_secrets")
        saved = quillbox("set", "ADDED_LATER", "--vault", str(vault), stdin="added-5e8c1f")
        assert saved.returncode == 0, saved.stderr
        return (
            await session.call_tool("list_secrets"),
            await session.call_tool(
                "run_command", {"command": "printf '%s %s' {{ADDED_LATER}} added-5e8c1f"}
            ),
        )

    listed, ran = with_session(vault, scenario)
    assert listed.structured_content == {"names": [*SECRETS, "ADDED_LATER"]}
    assert not ran.is_error, text_of(ran)
    assert ran.structured_content["stdout"] == "[REDACTED_ADDED_LATER] [REDACTED_ADDED_LATER]"


@pytest.mark.parametrize(
    "key, python_code, message",
    [
        (
            "the wrong passphrase",
            None,
            "quillbox: vault error: vault header HMAC mismatch — the vault header may have been "
            "tampered with or corrupted; a wrong passphrase in QUILLBOX_KEY gives this too\n",
        ),
        (None, None, "quillbox: "),
        # As if the optional SDK were not installed.
        (
            PASSPHRASE,
            "import sys; sys.modules['mcp'] = None; "
            "from quillbox.cli import main; sys.exit(main())",
            "quillbox: the MCP server needs the mcp package: pip install 'quillbox[mcp]'\n",
        ),
    ],
)
def test_a_server_that_cannot_start_says_why_in_one_line(
    vault_file: Path, key, python_code, message
):
    result = quillbox("mcp", "--vault", str(vault_file), key=key, python_code=python_code)
    assert result.returncode == 1
    assert result.stdout == ""
    assert result.stderr.startswith(message)
    assert result.stderr.count("\n") == 1
