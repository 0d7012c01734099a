"""Requests whose text JSON can carry but UTF-8 cannot encode: lone surrogates.

JSON may escape a lone surrogate (`"\\ud800"`). The SDK's parser refuses such a
line as invalid JSON and drops it, which would leave its client waiting for an
answer forever. Python's own parser takes the line, and so this relay, between
the stdio transport and the server, takes it in again:

- a `tools/call` whose only such text is in the tool's name or arguments goes on
  to the server, whose tools refuse it with a one-line tool error naming the
  field;
- any other request is answered here with an error that quotes none of it;
- anything else (a notification, a request whose ID is such text) goes on as
  the parse error it was, which the SDK drops: there is nobody to answer.
"""

from __future__ import annotations

import json
from typing import Any

from mcp.shared.message import SessionMessage
from mcp.types import (
    INVALID_PARAMS,
    ErrorData,
    JSONRPCError,
    JSONRPCMessage,
    JSONRPCRequest,
    jsonrpc_message_adapter,
)
from pydantic import ValidationError

UNENCODABLE = "holds a lone surrogate, which UTF-8 cannot encode; nothing ran"


async def take_in_lone_surrogates(from_client: Any, to_server: Any, to_client: Any) -> None:
    """Passes on what `from_client` yields to `to_server` until it ends, taking in
    again the lines refused only for a lone surrogate; closes all three."""
    async with from_client, to_server, to_client:
        async for item in from_client:
            message = reparsed(item) if isinstance(item, ValidationError) else None
            if not isinstance(message, JSONRPCRequest) or first_unencodable(message.id) is not None:
                await to_server.send(item)
            elif first_unencodable(served_part(message)) is None:
                await to_server.send(SessionMessage(message))
            else:
                error = ErrorData(code=INVALID_PARAMS, message=f"the request {UNENCODABLE}")
                await to_client.send(
                    SessionMessage(JSONRPCError(jsonrpc="2.0", id=message.id, error=error))
                )


def reparsed(error: ValidationError) -> JSONRPCMessage | None:
    """The message of a line that the SDK's parser refused and Python's takes."""
    problems = error.errors()
    if len(problems) != 1 or problems[0]["type"] != "json_invalid":
        return None
    try:
        return jsonrpc_message_adapter.validate_python(
            json.loads(problems[0]["input"]), by_name=False
        )
    except ValueError:  # not JSON after all, or not a message
        return None


def served_part(request: JSONRPCRequest) -> object:
    """What of a request the SDK looks at before a tool does: all of it but a
    tool call's name and arguments, which the server's tools check themselves."""
    if request.method != "tools/call":
        return request.model_dump()
    params = {
        name: value
        for name, value in (request.params or {}).items()
        if name not in ("name", "arguments")
    }
    return {**request.model_dump(exclude={"params"}), "params": params}


def first_unencodable(value: object, where: str = "") -> str | None:
    """Where, in JSON, the first text that UTF-8 cannot encode is (None if there is
    none): `env.NAME` for a value, `a name in env` for a name, `command.1` for an
    item; `where` names `value` itself."""
    if isinstance(value, str):
        try:
            value.encode("utf-8")
        except UnicodeEncodeError:
            return where
        return None
    if isinstance(value, dict):
        members = list(value.items())
    elif isinstance(value, list):
        members = [(str(index), item) for index, item in enumerate(value)]
    else:
        return None
    for name, item in members:
        if first_unencodable(name) is not None:
            return f"a name in {where}" if where else "a name"
        found = first_unencodable(item, f"{where}.{name}" if where else name)
        if found is not None:
            return found
    return None
