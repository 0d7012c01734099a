"""The driver of the README's examples, run as root inside new network, mount
and process namespaces (driving.py's `unshare ... python world.py`). It reads what the
world holds and which blocks to run as JSON on standard input, sets the world
up (the host names on the loopback interface, the servers, the users and their
homes), runs each block from a fresh copy of `me`'s home, and writes each
block's outcome as JSON on standard output."""

from __future__ import annotations

import json
import os
import sys
import time
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor
from contextlib import ExitStack, contextmanager
from pathlib import Path
from typing import Any

sys.path.insert(0, str(Path(__file__).resolve().parent.parent))

from readme_examples import homes, namespace
from readme_examples.https_server import HttpsServer, Route, Site
from readme_examples.postgres_server import PostgresServer
from readme_examples.runners import Runner
from readme_examples.ssh_server import SshServer
from readme_examples.users import add_users

CA_BUNDLE = Path("/etc/ssl/certs/ca-certificates.crt")  # where curl, git and Go look
WORLD = Path("/tmp/world")  # root's alone: keys, covering files, templates
EXAMPLES = Path("/tmp/examples")  # the blocks' files, readable by their user
BLOCK_HOMES = Path("/home/.blocks")  # each block's copy of `me`'s home
SIDE_BY_SIDE = 3  # blocks run at once: they mostly wait on servers and on starting Python


def compile_what_the_examples_import() -> None:
    """Writes the bytecode of the MCP SDK's modules that the examples' Python
    processes import (the server's and the client's) into the virtual
    environment, as any import by its owner does: the user who runs the
    examples cannot write there, and would compile them again in each process.
    (pip compiled quillbox's own when it installed it.)"""
    sys.dont_write_bytecode = False
    import mcp.client.stdio  # noqa: F401
    import quillbox.mcp_server  # noqa: F401


def private_folders() -> None:
    # The interpreter, its library, the virtual environment, and the scripts
    # that run the Python blocks.
    interpreter = [os.path.realpath(sys.executable), sys.base_prefix, sys.prefix]
    needed = [Path(path) for path in [*interpreter, Path(__file__).resolve()]]
    namespace.open_the_way_to(needed)
    namespace.bring_up_loopback()
    namespace.memory_folder_keeping(Path("/tmp"), 0o1777, needed)
    namespace.memory_folder_keeping(Path("/dev/shm"), 0o1777, needed)
    namespace.memory_folder_keeping(Path("/home"), 0o755, needed)
    WORLD.mkdir(mode=0o700)
    EXAMPLES.mkdir(mode=0o755)


def serve_tls(plan: dict[str, Any]) -> HttpsServer:
    sites = []
    for number, site in enumerate(plan["sites"]):
        certificate, key = WORLD / f"site{number}.pem", WORLD / f"site{number}.key"
        certificate.write_text(site["certificate"])
        key.write_text(site["key"])
        sites.append(Site(tuple(site["names"]), certificate, key))
    return HttpsServer(sites, [Route(**route) for route in plan["routes"]])


@contextmanager
def world(plan: dict[str, Any]) -> Iterator[tuple[Runner, HttpsServer, dict[str, Path]]]:
    compile_what_the_examples_import()
    private_folders()
    hosts = "".join(f"127.0.0.1\t{name}\n" for name in ["localhost", *plan["hosts"]])
    namespace.cover_file(Path("/etc/hosts"), hosts, WORLD)
    namespace.cover_file(CA_BUNDLE, plan["trusted_ca"], WORLD)
    users = add_users(["me", "deploy"], WORLD)
    me = users["me"]
    postgres = PostgresServer(**plan["postgres"], folder=Path("/tmp/postgres"))
    initialising = postgres.initialise()

    known_host = f"host.example.test {plan['ssh']['host_public']}"
    homes.make_my_home(me, plan["ssh"]["key"], known_host, plan["project_files"])
    templates = {"without a vault": WORLD / "me-without-a-vault", "with a vault": WORLD / "me"}
    homes.copy_home(me.home, templates["without a vault"])
    homes.place_vault(me.home, me, **plan["vault"])
    homes.copy_home(me.home, templates["with a vault"])
    homes.make_deploy_home(users["deploy"], plan["ssh"]["authorized_key"], WORLD)

    with ExitStack() as servers:
        https = servers.enter_context(serve_tls(plan))
        servers.enter_context(SshServer(plan["ssh"]["host_key"], WORLD / "sshd"))
        if initialising.wait() != 0:
            raise RuntimeError(f"initdb failed: {initialising.stderr.read().decode()}")
        servers.enter_context(postgres)
        environment = {
            "HOME": str(me.home),
            "USER": me.name,
            "LOGNAME": me.name,
            "PATH": f"{me.home}/env/bin:/usr/local/bin:/usr/bin:/bin",
            "LANG": "C.UTF-8",
            **plan["session"],
        }
        yield Runner(me, environment, EXAMPLES), https, templates


def run_block(
    runner: Runner, block: dict[str, Any], plan: dict[str, Any], home: Path
) -> dict[str, Any]:
    name, text = block["name"], block["text"]
    if block["language"] == "python":
        return runner.python(name, text, home, plan["prelude"])
    if block["language"] == "json":
        return runner.mcp(name, text, home, plan["agent_calls"])
    if block["typed"]:
        typed = [(cue, answer) for cue, answer in block["typed"]]
        return runner.shell_on_a_terminal(name, text, home, typed)
    return runner.shell(name, text, home)


def main() -> None:
    plan = json.load(sys.stdin)
    started = time.monotonic()
    with world(plan) as (runner, https, templates):
        set_up = time.monotonic() - started

        def run(block: dict[str, Any]) -> dict[str, Any]:
            home = BLOCK_HOMES / block["name"]
            homes.copy_home(templates[block["home"]], home)
            block_started = time.monotonic()
            outcome = run_block(runner, block, plan, home)
            return {**outcome, "seconds": round(time.monotonic() - block_started, 2)}

        BLOCK_HOMES.mkdir()
        with ThreadPoolExecutor(SIDE_BY_SIDE) as pool:
            names = [block["name"] for block in plan["blocks"]]
            outcomes = dict(zip(names, pool.map(run, plan["blocks"])))
        requests = https.requests
    json.dump(
        {"setup_seconds": round(set_up, 2), "blocks": outcomes, "requests": requests}, sys.stdout
    )


if __name__ == "__main__":
    main()
