"""Starts the MCP server exactly as the README's client configuration says
(its command, arguments, working directory and environment), connects to it
with the MCP SDK's own client, makes the calls given, and writes, as JSON to
the file named last, each call's answer: whether it is an error, its structured
content and its text.

Usage: python mcp_block.py CONFIGURATION CALLS RESULT_FILE"""

from __future__ import annotations

import asyncio
import json
import sys
from typing import Any

from mcp import ClientSession, StdioServerParameters
from mcp.client.stdio import stdio_client

SERVER_NAME = "quillbox"


async def answers(configuration: dict[str, Any], calls: list[Any]) -> list[dict[str, Any]]:
    entry = configuration["mcpServers"][SERVER_NAME]
    server = StdioServerParameters(
        command=entry["command"], args=entry["args"], cwd=entry["cwd"], env=entry["env"]
    )
    answered = []
    async with stdio_client(server) as (read, write), ClientSession(read, write) as session:
        await session.initialize()
        for name, arguments in calls:
            answer = await session.call_tool(name, arguments)
            answered.append(
                {
                    "is_error": answer.is_error,
                    "structured": answer.structured_content,
                    "text": "".join(part.text for part in answer.content if part.type == "text"),
                }
            )
    return answered


def main(configuration: str, calls: str, result_file: str) -> None:
    asked = answers(json.loads(configuration), json.loads(calls))
    answered = asyncio.run(asyncio.wait_for(asked, 60))
    with open(result_file, "w") as out:
        json.dump(answered, out)


if __name__ == "__main__":
    main(*sys.argv[1:])
