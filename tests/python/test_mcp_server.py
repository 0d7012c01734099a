"""`quillbox mcp`, driven over stdio by the MCP SDK's own client, as an agent's host drives it."""

from __future__ import annotations

import asyncio
import base64
import json
import os
import subprocess
import sys
import time
from collections.abc import AsyncIterator, Awaitable, Sequence
from contextlib import asynccontextmanager
from pathlib import Path
from typing import Any, Callable, TextIO, TypeVar

import anyio
import pytest
from anyio.abc import ObjectReceiveStream, ObjectSendStream
from conftest import unprivileged
from mcp import ClientSession, StdioServerParameters
from mcp.client.stdio import stdio_client
from mcp.shared.message import SessionMessage
from mcp.types import CallToolResult

PASSPHRASE = "a demo passphrase of some length"
SECRETS = {"API_TOKEN": "sk-live-5d1e9c3a", "DB_PASSWORD": "hunter2-but-longer"}
ENCODED_TOKEN = base64.b64encode(SECRETS["API_TOKEN"].encode()).decode()

T = TypeVar("T")


def quillbox(
    *arguments: str,
    stdin: str = "",
    key: str | None = PASSPHRASE,
    python_code: str | None = None,
    prefix: Sequence[str] = (),
) -> subprocess.CompletedProcess[str]:
    env = {name: value for name, value in os.environ.items() if name != "QUILLBOX_KEY"}
    if key is not None:
        env["QUILLBOX_KEY"] = key
    start = ["-c", python_code] if python_code else ["-m", "quillbox"]
    return subprocess.run(
        [*prefix, sys.executable, *start, *arguments],
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


def server_parameters(
    vault_file: Path, env_extra: dict[str, str] | None = None, **options: Any
) -> StdioServerParameters:
    return StdioServerParameters(
        command=sys.executable,
        args=["-m", "quillbox", "mcp", "--vault", str(vault_file)],
        env={"QUILLBOX_KEY": PASSPHRASE, **(env_extra or {})},
        **options,
    )


@asynccontextmanager
async def connected(
    vault_file: Path, cwd: Path | None = None, env_extra: dict[str, str] | None = None
) -> AsyncIterator[ClientSession]:
    server = server_parameters(vault_file, env_extra, cwd=cwd)
    async with stdio_client(server) as (read, write), ClientSession(read, write) as session:
        await session.initialize()
        yield session


class EscapedJson:
    """A message written as a client that escapes every non-ASCII character writes
    it: `"\\ud800"` for a lone surrogate, which the SDK's own writer cannot send."""

    def __init__(self, message: Any) -> None:
        self.message = message

    def model_dump_json(self, **dump_options: Any) -> str:
        return json.dumps(self.message.model_dump(**dump_options))


@asynccontextmanager
async def connected_escaping(vault_file: Path) -> AsyncIterator[ClientSession]:
    async def escape_each(
        messages: ObjectReceiveStream[SessionMessage],
        server: ObjectSendStream[SessionMessage],
    ) -> None:
        async with messages, server:
            async for each in messages:
                await server.send(SessionMessage(EscapedJson(each.message), each.metadata))

    async with stdio_client(server_parameters(vault_file)) as (read, write):
        to_server, from_session = anyio.create_memory_object_stream[SessionMessage](0)
        async with anyio.create_task_group() as relay:
            relay.start_soon(escape_each, from_session, write)
            async with to_server, ClientSession(read, to_server) as session:
                await session.initialize()
                yield session


def with_session(
    vault_file: Path,
    scenario: Callable[[ClientSession], Awaitable[T]],
    connect: Callable[..., Any] = connected,
    **options: Any,
) -> T:
    async def run() -> T:
        with anyio.fail_after(60):
            async with connect(vault_file, **options) as session:
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
        "cwd",
        "timeout_secs",
        "max_output_bytes",
    }
    assert {arm["type"] for arm in schema["properties"]["command"]["anyOf"]} == {"string", "array"}
    assert schema["properties"]["max_output_bytes"]["default"] == 256 * 1024
    assert schema["properties"]["timeout_secs"]["default"] == 300
    taught = (
        "{{NAME}}",
        "{{file:NAME}}",
        "{{url:NAME}}",
        "{{ end }}",
        "[REDACTED_NAME]",
        "env",
        "input",
        "cwd",
        "262144",
    )
    for word in taught:
        assert word in run.description
    assert set(run.output_schema["properties"]) == {
        "exit_code",
        "stdout",
        "stderr",
        "timed_out",
        "stopped_by",
    }


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
        "stopped_by": None,
    }
    assert text_of(vector) == (
        "exit code 3\nstdout:\n[REDACTED_API_TOKEN]\n[REDACTED_DB_PASSWORD]\n"
        "[REDACTED_DB_PASSWORD]\n[REDACTED_API_TOKEN]\nstderr:\n[REDACTED_API_TOKEN_B64]\n"
    )
    assert string.structured_content["stdout"] == "the token: [REDACTED_API_TOKEN]\n"


def test_a_stop_names_its_limit_and_a_command_exiting_124_is_not_stopped(vault_file: Path):
    async def scenario(session: ClientSession) -> list[CallToolResult]:
        return [
            await session.call_tool(
                "run_command",
                {"command": "sh -c 'head -c 2000 /dev/zero >&2'", "max_output_bytes": 1000},
            ),
            await session.call_tool("run_command", {"command": "sh -c 'exit 124'"}),
        ]

    stopped, exited = with_session(vault_file, scenario)
    assert stopped.structured_content["stopped_by"] == "stderr limit"
    assert text_of(stopped).startswith(
        "stopped when its standard error passed max_output_bytes (exit code 124)\n"
    )
    assert exited.structured_content["stopped_by"] is None
    assert text_of(exited) == "exit code 124"


def test_template_braces_pass_and_url_placeholders_are_filled(vault_file: Path):
    command = ["printf", "%s|%s", "{{ .Name }}{{%h}}", "https://u:{{url:DB_PASSWORD}}@h/"]

    async def scenario(session: ClientSession) -> CallToolResult:
        return await session.call_tool("run_command", {"command": command})

    result = with_session(vault_file, scenario)
    assert not result.is_error, text_of(result)
    assert result.structured_content["stdout"] == (
        "{{ .Name }}{{%h}}|https://u:[REDACTED_DB_PASSWORD]@h/"
    )


def test_failures_come_back_as_tool_errors_and_the_server_keeps_serving(vault_file: Path):
    refused = {
        "echo {{NOPE}}": "placeholder error: unresolved placeholder",
        "echo a | b": "tokenization error: rejected shell metacharacter '|'",
        "echo '{{range .Items}}'": "placeholder error: invalid placeholder key name in "
        "{{range .Items}}",
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


LONE = "\ud800"  # a lone surrogate: JSON carries it escaped, UTF-8 cannot encode it
UNENCODABLE = "holds a lone surrogate, which UTF-8 cannot encode; nothing ran"
REFUSED_TEXT = [
    ("run_command", {"command": f"echo {LONE}"}, f"command {UNENCODABLE}"),
    ("run_command", {"command": ["echo", LONE]}, f"command.1 {UNENCODABLE}"),
    ("run_command", {"command": "env", "env": {"A": LONE}}, f"env.A {UNENCODABLE}"),
    ("run_command", {"command": "cat", "input": "{{API_TOKEN}} " + LONE}, f"input {UNENCODABLE}"),
    ("run_command", {"command": "pwd", "cwd": LONE}, f"cwd {UNENCODABLE}"),
    # Arguments that would fail validation too: its message would quote them.
    ("run_command", {"command": "true", "timeout_secs": LONE}, f"timeout_secs {UNENCODABLE}"),
]


def test_text_that_cannot_be_encoded_is_refused_in_one_line_without_being_quoted(
    vault_file: Path,
):
    async def scenario(session: ClientSession) -> tuple[list[CallToolResult], CallToolResult]:
        refused = [await session.call_tool(name, arguments) for name, arguments, _ in REFUSED_TEXT]
        return refused, await session.call_tool("run_command", {"command": "echo still here"})

    refused, later = with_session(vault_file, scenario, connect=connected_escaping)
    expected = [f"invalid arguments for run_command: {where}" for _, _, where in REFUSED_TEXT]
    assert [text_of(result) for result in refused] == expected
    assert all(result.is_error for result in refused)
    assert later.structured_content["stdout"] == "still here\n"


async def exchange(
    vault_file: Path, requests: list[dict[str, Any]], awaited: set[int]
) -> dict[Any, Any]:
    """The answers, by ID, of a server given `requests` as JSON lines, as a client that
    the SDK's own cannot imitate writes them, once those `awaited` have come; then its
    input ends."""
    lines = [
        {
            "jsonrpc": "2.0",
            "id": 0,
            "method": "initialize",
            "params": {
                "protocolVersion": "2025-06-18",
                "capabilities": {},
                "clientInfo": {"name": "test", "version": "1"},
            },
        },
        {"jsonrpc": "2.0", "method": "notifications/initialized"},
        *({"jsonrpc": "2.0", **request} for request in requests),
    ]
    command = [sys.executable, "-m", "quillbox", "mcp", "--vault", str(vault_file)]
    environment = {**os.environ, "QUILLBOX_KEY": PASSPHRASE}
    answers: dict[Any, Any] = {}
    async with await anyio.open_process(command, env=environment, stderr=None) as server:
        assert server.stdin is not None and server.stdout is not None
        await server.stdin.send("".join(json.dumps(line) + "\n" for line in lines).encode())
        pending = b""
        async for chunk in server.stdout:
            *complete, pending = (pending + chunk).split(b"\n")
            answers.update((answer["id"], answer) for answer in map(json.loads, complete))
            if {0, *awaited} <= answers.keys():
                break
        await server.stdin.aclose()
        assert await server.wait() == 0
    return answers


def test_every_request_with_a_lone_surrogate_is_answered_but_one_whose_id_is_one(
    vault_file: Path,
):
    request = {"method": "tools/call"}
    env_name = {"command": "env", "env": {LONE: "x"}}
    invalid_env_name = {"command": "true", "env": {LONE: 5}}  # fails validation too
    argument_name = {"command": "true", LONE: 1}
    requests = [
        # The SDK's client cannot send these: its own serialising refuses them.
        {**request, "id": 1, "params": {"name": LONE, "arguments": {}}},
        {**request, "id": 5, "params": {"name": "run_command", "arguments": env_name}},
        {**request, "id": 6, "params": {"name": "run_command", "arguments": invalid_env_name}},
        {**request, "id": 7, "params": {"name": "run_command", "arguments": argument_name}},
        {"id": 2, "method": "prompts/get", "params": {"name": LONE}},
        {
            **request,
            "id": 3,
            "params": {"name": "list_secrets", "_meta": {"progressToken": LONE}},
        },
        {**request, "id": LONE, "params": {"name": "list_secrets"}},
        {"method": "notifications/cancelled", "params": {"requestId": LONE}},
        {**request, "id": 4, "params": {"name": "list_secrets"}},
    ]

    async def run() -> dict[Any, Any]:
        with anyio.fail_after(60):
            return await exchange(vault_file, requests, awaited={1, 2, 3, 4, 5, 6, 7})

    answers = asyncio.run(run())
    tool_errors = {
        1: f"the tool name {UNENCODABLE}",
        5: f"invalid arguments for run_command: a name in env {UNENCODABLE}",
        6: f"invalid arguments for run_command: a name in env {UNENCODABLE}",
        7: f"invalid arguments for run_command: a name {UNENCODABLE}",
    }
    for call, message in tool_errors.items():
        assert answers[call]["result"]["isError"]
        assert answers[call]["result"]["content"] == [{"type": "text", "text": message}]
    for refused in (2, 3):
        assert answers[refused]["error"] == {
            "code": -32602,
            "message": f"the request {UNENCODABLE}",
        }
    assert answers[4]["result"]["structuredContent"] == {"names": sorted(SECRETS)}
    assert set(answers) == {0, 1, 2, 3, 4, 5, 6, 7}


def test_an_error_that_quotes_a_line_break_is_one_line(vault_file: Path):
    async def scenario(session: ClientSession) -> list[CallToolResult]:
        return [
            await session.call_tool("run_command", {"command": ["no-such\nprogram"]}),
            await session.call_tool("run_command", {"command": "true", "env": {"A\nB": 5}}),
        ]

    spawn, invalid = with_session(vault_file, scenario)
    assert text_of(spawn).startswith("spawn error: command not found: no-such program —")
    assert text_of(invalid) == (
        "invalid arguments for run_command: env.A B: Input should be a valid string"
    )


def child_pid(pid_file: Path) -> Callable[[], Awaitable[int]]:
    """The command that writes its process ID to `pid_file`, then sleeps long, and a
    wait for that ID."""

    async def wait() -> int:
        while not pid_file.exists() or not pid_file.read_text().endswith("\n"):
            await anyio.sleep(0.02)
        return int(pid_file.read_text())

    return wait


def long_call(pid_file: Path) -> dict[str, Any]:
    return {"command": ["sh", "-c", 'echo $$ >"$0"; exec sleep 60', str(pid_file)]}


def is_running(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


async def until_gone(pid: int) -> None:
    """Returns once `pid` has ended: well before its 60 s sleep, or the test fails."""
    with anyio.fail_after(10):
        while is_running(pid):
            await anyio.sleep(0.02)


def test_a_cancelled_call_stops_its_command_and_the_server_keeps_serving(
    vault_file: Path, tmp_path: Path
):
    pid_file = tmp_path / "pid"

    async def scenario(session: ClientSession) -> CallToolResult:
        async with anyio.create_task_group() as calls:
            calls.start_soon(session.call_tool, "run_command", long_call(pid_file))
            pid = await child_pid(pid_file)()
            # The SDK's client tells the server with notifications/cancelled.
            calls.cancel_scope.cancel()
        await until_gone(pid)
        return await session.call_tool("run_command", {"command": "echo still here"})

    later = with_session(vault_file, scenario)
    assert later.structured_content["stdout"] == "still here\n"


def test_a_client_that_goes_away_mid_call_ends_its_command_and_the_server(tmp_path: Path):
    # The vault in a folder of its own, which the commands' sandbox keeps out of
    # reach; the command writes its pid into a folder beside it (the folder that
    # holds both takes no new file from a sandboxed command).
    (tmp_path / "vault").mkdir()
    (tmp_path / "run").mkdir()
    vault_file = tmp_path / "vault" / "vault.bin"
    created = quillbox("init", "--vault", str(vault_file), "--m-cost", "8", "--t-cost", "1")
    assert created.returncode == 0, created.stderr
    pid_file, status_file, log_file = (tmp_path / "run" / name for name in ("pid", "status", "log"))
    # The server's exit status, as a shell sees it; the client kills what is left
    # of the server 2 s after closing its input, which a status 0 rules out.
    quillbox_mcp = [sys.executable, "-m", "quillbox", "mcp", "--vault", str(vault_file)]
    server = StdioServerParameters(
        command="sh",
        args=["-c", '"$@"; echo $? >"$0"', str(status_file), *quillbox_mcp],
        env={"QUILLBOX_KEY": PASSPHRASE},
    )

    async def scenario(log: TextIO) -> int:
        async with (
            stdio_client(server, errlog=log) as (read, write),
            ClientSession(read, write) as session,
            anyio.create_task_group() as calls,
        ):
            await session.initialize()
            calls.start_soon(session.call_tool, "run_command", long_call(pid_file))
            pid = await child_pid(pid_file)()
            # Nothing more reaches the server, not even a cancellation: leaving
            # stdio_client closes its standard input.
            await write.aclose()
            calls.cancel_scope.cancel()
        return pid

    with log_file.open("w") as log:
        pid = asyncio.run(scenario(log))
    exited = status_file.read_text() if status_file.exists() else "killed by the client"
    assert exited == "0\n", log_file.read_text()
    assert "Traceback" not in log_file.read_text()
    assert not is_running(pid)


def test_cwd_is_where_the_command_starts(vault_file: Path, tmp_path: Path):
    (tmp_path / "work" / "sub").mkdir(parents=True)

    async def scenario(session: ClientSession) -> list[CallToolResult]:
        return [
            await session.call_tool("run_command", {"command": "pwd", **where})
            for where in ({}, {"cwd": "sub"}, {"cwd": "nowhere"})
        ]

    default, relative, missing = with_session(vault_file, scenario, cwd=tmp_path / "work")
    assert default.structured_content["stdout"] == f"{tmp_path}/work\n"
    assert relative.structured_content["stdout"] == f"{tmp_path}/work/sub\n"
    assert missing.is_error
    assert text_of(missing) == (
        'spawn error: cannot start the command in "nowhere": No such file or directory (os error 2)'
    )


def test_a_command_gets_the_servers_base_environment_with_env_over_it(vault_file: Path):
    server_environment = {"LC_MARKER": "{{API_TOKEN}}", "TZ": "UTC", "UNLISTED": "kept out"}

    async def scenario(session: ClientSession) -> tuple[str, list[CallToolResult]]:
        (tool,) = [t for t in (await session.list_tools()).tools if t.name == "run_command"]
        return tool.description or "", [
            await session.call_tool("run_command", {"command": "env", **given})
            for given in ({}, {"env": {"TZ": "Europe/Paris", "A": "{{DB_PASSWORD}}"}})
        ]

    description, results = with_session(vault_file, scenario, env_extra=server_environment)
    assert "LC_MARKER" in description and "UNLISTED" not in description
    alone, added = (
        dict(line.split("=", 1) for line in result.structured_content["stdout"].splitlines())
        for result in results
    )
    # The server's own variables pass as they are, their braces never filled.
    assert (alone["LC_MARKER"], alone["TZ"]) == ("{{API_TOKEN}}", "UTC")
    assert alone["PATH"] == os.environ["PATH"]
    assert not alone.keys() & {"UNLISTED", "QUILLBOX_KEY", "SHELL"}
    assert added == {**alone, "TZ": "Europe/Paris", "A": "[REDACTED_DB_PASSWORD]"}


@asynccontextmanager
async def connected_to_the_vault_in_quillbox_vault(
    vault_file: Path, start: Path, workspace: Path
) -> AsyncIterator[ClientSession]:
    """A server started in `start`, without --vault, serving from `workspace`."""
    server = StdioServerParameters(
        command=sys.executable,
        args=["-m", "quillbox", "mcp", "--workspace", str(workspace)],
        env={"QUILLBOX_KEY": PASSPHRASE, "QUILLBOX_VAULT": os.path.relpath(vault_file, start)},
        cwd=start,
    )
    async with stdio_client(server) as (read, write), ClientSession(read, write) as session:
        await session.initialize()
        yield session


def test_quillbox_vault_chooses_the_servers_vault_relative_to_where_it_starts(
    vault_file: Path, tmp_path: Path
):
    (tmp_path / "workspace").mkdir()

    async def scenario(session: ClientSession) -> CallToolResult:
        return await session.call_tool("list_secrets")

    listed = with_session(
        vault_file,
        scenario,
        connect=connected_to_the_vault_in_quillbox_vault,
        start=tmp_path,
        workspace=tmp_path / "workspace",
    )
    assert listed.structured_content == {"names": sorted(SECRETS)}


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
            "tampered with or corrupted; a wrong passphrase gives this too: check QUILLBOX_KEY\n",
        ),
        (None, None, "quillbox: "),
        # As if a module of the optional extra were not installed.
        *(
            (
                PASSPHRASE,
                f"import sys; sys.modules[{module!r}] = None; "
                "from quillbox.cli import main; sys.exit(main())",
                f"quillbox: the MCP server needs quillbox's mcp extra (cannot import {module}): "
                "pip install 'quillbox[mcp]'\n",
            )
            for module in ("mcp", "anyio", "pydantic")
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


@pytest.mark.parametrize(
    "prefix, warning",
    [
        pytest.param(
            (),
            "quillbox: warning: serving as root: every command this server runs can read its "
            "memory, the vault's values included, whatever it does — serve as another user\n",
            marks=pytest.mark.skipif(os.geteuid() != 0, reason="root only"),
        ),
        # Root without the capability to read other processes' memory, as in a
        # container's default set: its commands cannot read the server's.
        (unprivileged, ""),
    ],
)
def test_a_server_whose_commands_could_read_its_memory_warns_on_start(
    vault_file: Path, prefix, warning
):
    started = quillbox(
        "mcp", "--vault", str(vault_file), prefix=prefix() if callable(prefix) else prefix
    )
    assert (started.returncode, started.stderr) == (0, warning)
