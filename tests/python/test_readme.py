"""The README's examples, run as written.

Every fenced block of README.md is either run here or marked, right before it,
`<!-- not run: REASON -->` (blocks that build or test the project itself). The
blocks run inside new network, mount and process namespaces, in a world that
readme_examples/world.py sets up: every host name the README uses resolves to
the loopback interface, where an HTTPS server, OpenSSH's sshd and PostgreSQL
answer and check the secret each request brings; the user `me` runs each
block from a fresh copy of a home that holds what the README takes for
granted (see readme_examples/homes.py). A shell block runs with `bash -e`, a
Python block after the prelude below, the MCP client configuration with the
MCP SDK's client. A block passes when it ends well, the servers let every
request in, its output shows what the table below says (the secrets as
labels), and no secret shows in any form.
"""

from __future__ import annotations

import base64
import json
import re
import secrets
import urllib.parse
from pathlib import Path
from typing import Any

import pytest
from readme_examples.blocks import Block, blocks_of
from readme_examples.credentials import Authority, ssh_key_pair
from readme_examples.driving import once_for_all_workers, run_world

README = Path(__file__).resolve().parents[2] / "README.md"
BLOCKS = blocks_of(README.read_text())
RUN_LANGUAGES = {"sh", "python", "json"}
EXAMPLES = [block for block in BLOCKS if block.not_run is None and block.file_name is None]
# Files the README shows, which the examples use: they are in the project.
PROJECT_FILES = {
    block.file_name: block.text for block in BLOCKS if block.not_run is None and block.file_name
}
MCP_CONFIGURATION = next(block for block in EXAMPLES if block.language == "json")

# The names the Python blocks use without defining them: the vault they talk
# to, a function an earlier block imports, and the bytes of the token that the
# first one stores.
PYTHON_PRELUDE = """\
import os
import sys

import quillbox
from quillbox.environment import base_environment

token_bytes = os.environb[b"TOKEN"]
vault = quillbox.Vault("QUILLBOX_KEY")
"""

# gh's own host: `gh api user` asks it, and the namespace's hosts file sends it
# to the local server like the README's example.test names.
GH_HOST = "api.github.com"
DEPLOY_HOST = "deploy.example.test"  # where the project's deploy.sh sends its token
INTERNAL_HOST = "internal.example.test"  # its certificate's CA is a vault entry, not trusted

# What each example's output shows. A new example gets its line here.
SHOWS: dict[str, list[str]] = {
    "using-it-1": [
        "DEPLOY_KEY",
        '"authorization": "Bearer [REDACTED_API_TOKEN]"',
        '"authorization": "token [REDACTED_GH_TOKEN]"',
        '"authorization": "Bearer [REDACTED_DEPLOY_TOKEN]"',
        "deleted API_TOKEN",
        "exported to backup.vault",
        "0 added, 0 skipped, 4 replaced",
        "the vault now takes the new passphrase",
    ],
    "using-it-2": ['0 {"host": "api.example.test"', '"Bearer [REDACTED_API_TOKEN]"'],
    "the-command-s-environment-1": ["fix: it's done; really", "(1 row)", "deploying "],
    "the-command-s-environment-3": ['"Bearer [REDACTED_DEPLOY_TOKEN]"'],
    "arguments-1": ['"Bearer [REDACTED_API_TOKEN]"', "fix: it's done; really"],
    "arguments-2": ["fix: it's done; really"],
    "environment-1": ['"token [REDACTED_GH_TOKEN]"', "(1 row)"],
    "environment-2": ['"token [REDACTED_GH_TOKEN]"'],
    "standard-input-1": ["[REDACTED_REGISTRY_PASSWORD_B64]"],
    "standard-input-2": ["[REDACTED_REGISTRY_PASSWORD_B64]"],
    "in-memory-file-1": ["Cloning into 'app'"],
    "in-memory-file-2": [f'"host": "{INTERNAL_HOST}"'],
    "url-1": ["(1 row)", '"authorization": "Basic '],
    "braces-of-templates-1": [f"{GH_HOST}: signed in", "}} start"],
    "live-output-1": ['"Bearer [REDACTED_DEPLOY_TOKEN]"'],
    "use-it-from-an-agent-2": [],  # its answers are checked one by one: AGENT_CALLS
}

NOTE = "/home/me/shared-notes/today"
# What an agent asks the server of the MCP example, and what each answer shows:
# the names, a call with a secret, a write to the folder --allow-write opens, and
# the vault, which the sandbox keeps out of reach.
AGENT_CALLS: list[tuple[str, dict[str, Any], str]] = [
    ("list_secrets", {}, "DEPLOY_TOKEN"),
    (
        "run_command",
        {
            "command": "curl -sS -H 'Authorization: Bearer {{API_TOKEN}}' https://api.example.test/me"
        },
        '"Bearer [REDACTED_API_TOKEN]"',
    ),
    (
        "run_command",
        {"command": ["sh", "-c", f"echo noted > {NOTE} && cat {NOTE}"]},
        "noted",
    ),
    (
        "run_command",
        {"command": "cat /home/me/.local/share/quillbox/vault.bin"},
        "Permission denied",
    ),
]


def test_every_block_is_run_or_says_why_not():
    for block in BLOCKS:
        if block.not_run is not None:
            assert block.not_run.strip(), f"README.md:{block.line}: say why it is not run"
        else:
            assert block.language in RUN_LANGUAGES, f"README.md:{block.line}: no way to run it"
    assert sorted(SHOWS) == sorted(block.name for block in EXAMPLES)
    for name in PROJECT_FILES:
        assert any(name in block.text for block in EXAMPLES), f"no example uses {name}"


def host_names() -> list[str]:
    named = re.findall(r"\b[a-z0-9.-]+\.example\.test\b", README.read_text())
    return sorted({*named, GH_HOST, DEPLOY_HOST})


def passphrase_of_the_mcp_example() -> str:
    passphrase: str = json.loads(MCP_CONFIGURATION.text)["mcpServers"]["quillbox"]["env"][
        "QUILLBOX_KEY"
    ]
    return passphrase


def typed_on_a_terminal(block: Block) -> list[tuple[str, str]]:
    """`quillbox rekey` without --new-key-env asks twice on a terminal: the block
    runs on one, where the passphrase it exported is typed each time (so the
    vault goes on opening with it), and once rekey is done, Ctrl-D ends the
    session of the `quillbox mcp` that follows."""
    if not re.search(r"^quillbox rekey\b(?!.*--new-key-env)", block.text, re.MULTILINE):
        return []
    exported = re.search(r"^export QUILLBOX_KEY='([^']*)'", block.text, re.MULTILINE)
    assert exported, "the block that asks for a passphrase exports the one it types"
    passphrase = exported[1] + "\n"
    return [
        ("New master passphrase: ", passphrase),
        ("Repeat the passphrase: ", passphrase),
        ("from now on", "\x04"),
    ]


def fresh_values() -> dict[str, str]:
    """The tokens and passwords the examples use (world_plan adds the keys). The
    database's password holds what ends a URL's user information early."""
    token = lambda: secrets.token_urlsafe(18)  # noqa: E731
    return {
        "API_TOKEN": token(),
        "GH_TOKEN": token(),
        "DB_PASSWORD": f"{token()[:8]} @:/#%&?{token()[:8]}",
        "REGISTRY_PASSWORD": token(),
        "DEPLOY_TOKEN": token(),
    }


def world_plan(values: dict[str, str], blocks: list[Block]) -> dict[str, Any]:
    """What the world driver sets up and runs: the hosts and what each serves,
    the vault and the session `me` runs `blocks` in. Adds the deploy key and
    the internal CA, made here, to `values`."""
    trusted, internal = Authority("README test CA"), Authority("internal CA")
    host_key, deploy_key = ssh_key_pair("host.example.test"), ssh_key_pair("deploy@ci")
    # `me`'s own key, on disk, which deploy@host.example.test does not let in: ssh
    # tries it when the key it is given cannot be read.
    own_key = ssh_key_pair("me@laptop")
    # PGPASSWORD: the database's password under the name psql reads it by.
    values.update(
        DEPLOY_KEY=deploy_key.private, INTERNAL_CA=internal.pem, PGPASSWORD=values["DB_PASSWORD"]
    )
    public_hosts = [name for name in host_names() if name != INTERNAL_HOST]
    route = lambda host, method, path, secret: {  # noqa: E731
        "host": host,
        "method": method,
        "path": path,
        "credential": secret,
    }
    return {
        "hosts": host_names(),
        "sites": [
            {"names": public_hosts, **vars(trusted.certify(public_hosts))},
            {"names": [INTERNAL_HOST], **vars(internal.certify([INTERNAL_HOST]))},
        ],
        "trusted_ca": trusted.pem,
        "routes": [
            route("api.example.test", "GET", "/me", values["API_TOKEN"]),
            route(GH_HOST, "GET", "/user", values["GH_TOKEN"]),
            route("registry.example.test", "GET", "/v2/", values["REGISTRY_PASSWORD"]),
            route(INTERNAL_HOST, "GET", "/", None),
            route(DEPLOY_HOST, "POST", "/releases", values["DEPLOY_TOKEN"]),
        ],
        "ssh": {
            "key": own_key.private,
            "host_key": host_key.private,
            "host_public": host_key.public,
            "authorized_key": deploy_key.public,
        },
        "postgres": {"role": "app", "password": values["DB_PASSWORD"]},
        "vault": {"passphrase": passphrase_of_the_mcp_example(), "entries": values},
        # The variables of the session the blocks run in: the first one
        # stores some of them.
        "session": {
            "QUILLBOX_KEY": passphrase_of_the_mcp_example(),
            "TOKEN": values["API_TOKEN"],
            **{name: values[name] for name in ("GH_TOKEN", "DEPLOY_TOKEN", "DB_PASSWORD")},
        },
        "project_files": PROJECT_FILES,
        "prelude": PYTHON_PRELUDE,
        "agent_calls": [[name, arguments] for name, arguments, _ in AGENT_CALLS],
        "blocks": [
            {
                "name": block.name,
                "language": block.language,
                "text": block.text,
                "typed": typed_on_a_terminal(block),
                # A block that makes its own vault starts without one.
                "home": "without a vault" if "quillbox init" in block.text else "with a vault",
            }
            for block in blocks
        ],
    }


def run_the_examples() -> dict[str, Any]:
    values = fresh_values()
    return {**run_world(world_plan(values, EXAMPLES)), "values": values}


@pytest.fixture(scope="session")
def world(tmp_path_factory: pytest.TempPathFactory) -> dict[str, Any]:
    """The values the examples' vault holds, and what each example gave."""
    return once_for_all_workers(tmp_path_factory, run_the_examples)


def test_the_servers_let_every_request_in(world: dict[str, Any]):
    """The examples bring every web service the secret it takes (the blocks run
    side by side, so the requests are not told apart by block)."""
    assert world["requests"]
    assert [request for request in world["requests"] if not request["let_in"]] == []


def forms_of(value: str) -> list[str]:
    """How a value would show if it leaked: as it is, or each longer line of a
    value of several; Base64, URL-safe Base64, percent-encoded and hex."""
    raw = value.encode()
    if "\n" in value.strip():
        return [line for line in value.splitlines() if len(line) >= 16]
    return [
        value,
        base64.b64encode(raw).decode(),
        base64.urlsafe_b64encode(raw).decode(),
        urllib.parse.quote(value, safe=""),
        raw.hex(),
    ]


def texts_in(found: Any) -> list[str]:
    if isinstance(found, str):
        return [found]
    if isinstance(found, dict):
        found = list(found.values())
    if isinstance(found, list):
        return [text for each in found for text in texts_in(each)]
    return []


def everything_shown(outcome: dict[str, Any]) -> str:
    """The block's output and what the runs it left hold, one text."""
    return "\n".join(texts_in([outcome["stdout"], outcome["stderr"], outcome.get("result")]))


@pytest.mark.parametrize("block", EXAMPLES, ids=[block.name for block in EXAMPLES])
def test_the_example_runs_as_written(block: Block, world: dict[str, Any]):
    outcome = world["blocks"][block.name]
    shown = everything_shown(outcome)
    where = f"README.md:{block.line}:\n{outcome['stdout']}{outcome['stderr']}"
    assert outcome["status"] == 0, where
    if block.language == "python":
        assert outcome["result"] is not None, "the block leaves no run to check"
        assert outcome["result"]["exit_code"] == 0, where + json.dumps(outcome["result"])
    if block.language == "json":
        for (name, _, text), answer in zip(AGENT_CALLS, outcome["result"]):
            assert not answer["is_error"], (name, answer)
            assert text in answer["text"], (name, answer)
    for text in SHOWS[block.name]:
        assert text in shown, where
    leaked = [
        name
        for name, value in world["values"].items()
        if any(form in shown for form in forms_of(value))
    ]
    assert leaked == [], f"README.md:{block.line}'s output shows these entries' values"
