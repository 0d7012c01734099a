"""`quillbox mcp`: a Model Context Protocol server, over stdio, whose tools run
commands with secrets filled in and hand back only redacted output.

An agent learns the entry names and what its commands print, redacted; no tool
returns a value, and none sets one. The vault is opened by the caller and stays
open while the server runs; each call sees the vault file as it is then, with
what the command line saved since. Every vault call runs on a worker thread
(the native methods release the interpreter lock), so calls overlap; a run
whose request is cancelled, or whose client goes away, is stopped.

Every call is answered (but a cancelled one, which the protocol leaves
unanswered): arguments holding text that JSON can carry but UTF-8 cannot
encode (a lone surrogate) are refused before anything else looks at them, and
every tool error is one line that can be encoded.
"""

from __future__ import annotations

from collections.abc import Mapping
from importlib.metadata import version
from typing import Annotated, Any, Literal

import anyio
import anyio.to_thread
from mcp.server.mcpserver import Context, MCPServer
from mcp.server.mcpserver.exceptions import ToolError, UnexpectedToolError
from mcp.server.stdio import stdio_server
from mcp.shared.message import SessionMessage
from mcp.types import CallToolResult, TextContent, ToolAnnotations
from pydantic import BaseModel, Field, ValidationError

from quillbox._lone_surrogates import UNENCODABLE, first_unencodable, take_in_lone_surrogates
from quillbox._native import Cancellation, QuillBoxError, RunResult, Sandbox, Vault
from quillbox._stoppable_call import run_stoppable

OUTPUT_LIMIT = 256 * 1024  # bytes per stream: what an agent can read, not what a log can hold
DEFAULT_TIMEOUT_SECS = 300
STOPPED_EXIT_CODE = 124  # the timeout or an output limit stopped the command
LARGEST_LIMIT = 2**64 - 1  # the native limits are 64-bit unsigned

INSTRUCTIONS = (
    "Runs commands with secrets from an encrypted vault filled in, without ever showing a "
    "secret's value. Refer to a secret as {{NAME}} (list_secrets gives the names) in "
    "run_command's command, env or input; any secret in the output comes back as a label such "
    "as [REDACTED_NAME]."
)

RUN_COMMAND_DESCRIPTION = f"""\
Run a command with vault secrets filled in; get back its exit code and its output, with \
every secret redacted.

Placeholders: write {{{{NAME}}}} where a secret's value belongs (list_secrets gives the \
names). The value reaches only the command; a secret it prints comes back as a label such \
as [REDACTED_NAME] (raw) or [REDACTED_NAME_B64], _B64URL, _URL, _HEX, _JSON (encoded). \
{{{{file:NAME}}}} becomes the path of a file holding the value, in memory, readable by this \
user alone and removed when the command ends, for programs that want a path: \
ssh -i {{{{file:DEPLOY_KEY}}}}, curl --cacert {{{{file:CA}}}}. \
{{{{url:NAME}}}} is the value percent-encoded for a part of a URL, so that a password with \
@ : / # % & or spaces stays whole: https://user:{{{{url:DB_PASSWORD}}}}@host/db.

Template braces: {{{{ opens a placeholder only when a letter or _ follows it; any other {{{{ \
is text, so {{{{.Name}}}}, {{{{%h}}}} and {{{{ end }}}} reach the command as written. Write a \
template action that looks like a name with a space: {{{{ end }}}}, {{{{ range .Items }}}}.

No shell: a command string is split into words with shell-like quoting, and unquoted pipes, \
redirections, ;, &&, $VAR and globs are refused; run sh -c '...' for them. A list of \
strings is the argument vector, each word passed as it stands.

Channels for a secret, best first: env ({{"GITHUB_TOKEN": "{{{{GH_TOKEN}}}}"}}); input (fed \
to standard input, then closed: docker login --password-stdin); {{{{file:NAME}}}}; the \
argument vector last, since any local user can read a running command's arguments.

Working directory: cwd, absolute or relative to the server's own working directory, which \
is the default; a directory that does not exist is refused.

Limits: timeout_secs (default {DEFAULT_TIMEOUT_SECS}) and max_output_bytes (default \
{OUTPUT_LIMIT}, 256 KiB, for stdout and for stderr each; raise it for more). A command \
they stop exits with {STOPPED_EXIT_CODE}; stopped_by tells which."""

SANDBOXED = """

Sandbox: a command and all it starts may read and run the system's programs and \
libraries, read and write the workspace (the server's working directory) and the temporary \
folders, and use the network; the user's home, the vault and whatever else the server was \
told to deny are out of reach ("Permission denied"). At the workspace's top, beside a vault \
kept there, no new file can be made; use a folder below it."""

UNSANDBOXED = """

No sandbox: commands can read and write whatever the user who runs the server can."""


def environment_description(base_env: Mapping[str, str]) -> str:
    """What the tool's description says of a command's environment, whose base
    is `base_env`."""
    if not base_env:
        return "\n\nEnvironment: env's variables, and no others."
    return (
        f"\n\nEnvironment: the server's own {', '.join(base_env)}, as they are, with env's "
        "variables added over them."
    )


class CommandOutcome(BaseModel):
    exit_code: int = Field(
        description=f"the command's exit status; 128+N if signal N ended it, "
        f"{STOPPED_EXIT_CODE} if a limit stopped it"
    )
    stdout: str = Field(description="standard output, secrets redacted")
    stderr: str = Field(description="standard error, secrets redacted")
    timed_out: bool = Field(description="whether the timeout stopped the command")
    stopped_by: Literal["timeout", "stdout limit", "stderr limit", "cancelled"] | None = Field(
        description="the limit that stopped the command or cut its output; null if none did, "
        f"even when the command exited with {STOPPED_EXIT_CODE} itself"
    )


class SecretNames(BaseModel):
    names: list[str] = Field(description="the vault's entry names, usable as {{NAME}}")


class QuillboxServer(MCPServer[Any]):
    """Refuses text that cannot be encoded before anything else sees it, and reports
    arguments that fail validation as one line, without the values given; every
    error of its own making is one line."""

    async def call_tool(
        self, name: str, arguments: dict[str, Any], context: Context[Any, Any] | None = None
    ) -> Any:
        if first_unencodable(name) is not None:
            return tool_error(f"the tool name {UNENCODABLE}")
        where = first_unencodable(arguments)
        if where is not None:
            return tool_error(f"invalid arguments for {name}: {where} {UNENCODABLE}")
        try:
            return await super().call_tool(name, arguments, context)
        except UnexpectedToolError:
            raise  # the SDK logs the crash and answers without its details
        except ToolError as error:
            if isinstance(error.__cause__, ValidationError):
                return tool_error(f"invalid arguments for {name}: {describe(error.__cause__)}")
            return tool_error(str(error))  # an unknown tool, say

    async def run_stdio_async(self) -> None:
        """Serves on stdio, with the requests that the SDK's parser drops for a
        lone surrogate taken in again (`_lone_surrogates`)."""
        async with stdio_server() as (from_client, to_client), anyio.create_task_group() as relay:
            to_server, from_relay = anyio.create_memory_object_stream[SessionMessage | Exception]()
            relay.start_soon(take_in_lone_surrogates, from_client, to_server, to_client.clone())
            lowlevel = self._lowlevel_server
            await lowlevel.run(from_relay, to_client, lowlevel.create_initialization_options())


def build_server(
    vault: Vault, sandbox: Sandbox | None = None, base_env: Mapping[str, str] | None = None
) -> QuillboxServer:
    """The server's tools, each command in `sandbox` if there is one, its
    environment `base_env` (passed on as it is) with the call's `env` over it."""
    server = QuillboxServer(
        "quillbox", version=version("quillbox"), instructions=INSTRUCTIONS, log_level="WARNING"
    )

    @server.tool(
        description="List the names of the secrets in the vault, for use as {{NAME}} in "
        "run_command. Values are never shown.",
        annotations=ToolAnnotations(read_only_hint=True),
    )
    async def list_secrets() -> SecretNames:
        return SecretNames(names=await anyio.to_thread.run_sync(vault.list_keys))

    @server.tool(
        description=RUN_COMMAND_DESCRIPTION
        + environment_description(base_env or {})
        + (SANDBOXED if sandbox else UNSANDBOXED)
    )
    async def run_command(
        command: Annotated[
            str | list[str],
            Field(
                description="a command string (tokenized, no shell) or an argument vector; "
                "may hold {{NAME}}, {{file:NAME}} and {{url:NAME}}"
            ),
        ],
        env: Annotated[
            dict[str, str] | None,
            Field(
                description="variables added over the command's base environment (the tool's "
                "description names it), a name given here winning; values may hold {{NAME}}, "
                "{{file:NAME}} and {{url:NAME}}"
            ),
        ] = None,
        input: Annotated[
            str | None,
            Field(
                description="text for the command's standard input, placeholders filled; "
                "empty if not given"
            ),
        ] = None,
        cwd: Annotated[
            str | None,
            Field(
                description="the directory the command starts in, absolute or relative to the "
                "server's working directory; the server's working directory if not given"
            ),
        ] = None,
        timeout_secs: Annotated[
            int, Field(ge=0, le=LARGEST_LIMIT, description="seconds before the command is stopped")
        ] = DEFAULT_TIMEOUT_SECS,
        max_output_bytes: Annotated[
            int,
            Field(
                ge=0, le=LARGEST_LIMIT, description="limit of stdout and of stderr, each, in bytes"
            ),
        ] = OUTPUT_LIMIT,
    ) -> Annotated[CallToolResult, CommandOutcome]:
        def run(cancellation: Cancellation) -> RunResult:
            return vault.run_with(
                command,
                env=env,
                base_env=base_env,
                # Never this process's own standard input: that is the protocol's stream.
                input="" if input is None else input,
                cwd=cwd,
                sandbox=sandbox,
                timeout_secs=timeout_secs,
                max_output_bytes=max_output_bytes,
                max_stderr_bytes=max_output_bytes,
                cancellation=cancellation,
            )

        try:
            result = await run_stoppable(run)
        except (QuillBoxError, ValueError) as error:  # ValueError: an argument it cannot take
            return tool_error(str(error))
        outcome = CommandOutcome(
            exit_code=result.exit_code,
            stdout=result.stdout,
            stderr=result.stderr,
            timed_out=result.timed_out,
            stopped_by=result.stopped_by,
        )
        return CallToolResult(
            content=[TextContent(type="text", text=render(outcome, timeout_secs))],
            structured_content=outcome.model_dump(),
        )

    return server


def serve(vault: Vault, sandbox: Sandbox | None, base_env: Mapping[str, str]) -> None:
    """Serves MCP on standard input and output until the client closes them,
    each command in `sandbox` if there is one and with `base_env` under its
    own variables."""
    build_server(vault, sandbox, base_env).run("stdio")


def render(outcome: CommandOutcome, timeout_secs: int) -> str:
    if outcome.stopped_by == "timeout":
        status = f"stopped after its timeout of {timeout_secs} s (exit code {outcome.exit_code})"
    elif outcome.stopped_by is not None:
        stream = "standard output" if outcome.stopped_by == "stdout limit" else "standard error"
        status = (
            f"stopped when its {stream} passed max_output_bytes (exit code {outcome.exit_code})"
        )
    else:
        status = f"exit code {outcome.exit_code}"
    sections = [status]
    for name, text in (("stdout", outcome.stdout), ("stderr", outcome.stderr)):
        if text:
            sections.append(f"{name}:\n{text}")
    return "\n".join(sections)


def tool_error(message: str) -> CallToolResult:
    """One line, whatever a message quotes: line breaks become spaces, and text that
    cannot be encoded (refused before it could reach a message) would become `?`."""
    line = " ".join(message.splitlines()).encode("utf-8", "replace").decode("utf-8")
    return CallToolResult(content=[TextContent(type="text", text=line)], is_error=True)


def describe(error: ValidationError) -> str:
    """`field: problem` for each problem, on one line; the rejected values stay out."""
    return "; ".join(
        f"{'.'.join(str(part) for part in problem['loc'])}: {problem['msg']}"
        for problem in error.errors()
    )
