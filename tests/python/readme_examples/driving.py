"""Running the world driver (world.py) in new network, mount and process namespaces, and
sharing what it gives with every pytest-xdist worker."""

from __future__ import annotations

import fcntl
import json
import os
import subprocess
import sys
import time
from pathlib import Path
from typing import Any, Callable, TypeVar

import pytest

T = TypeVar("T")
WORLD_DRIVER = Path(__file__).resolve().parent / "world.py"
# New network, mount and process namespaces: the driver is the first process of
# its own, so that when it ends, however it ends (killed at a timeout, say), the
# kernel ends every server and example it started.
UNSHARE = ["unshare", "--net", "--mount", "--pid", "--fork", "--kill-child", "--mount-proc"]


def run_world(plan: dict[str, Any]) -> dict[str, Any]:
    """Sets the world `plan` describes up, runs its blocks, and gives what each
    did; skips where new namespaces cannot be made."""
    probe = subprocess.run([*UNSHARE, "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        pytest.skip(f"the examples run in new namespaces, and unshare was refused: {probe.stderr}")
    started = time.monotonic()
    driver = subprocess.run(
        [*UNSHARE, sys.executable, str(WORLD_DRIVER)],
        input=json.dumps(plan),
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert driver.returncode == 0, driver.stderr
    ran: dict[str, Any] = json.loads(driver.stdout)
    each = ", ".join(f"{name} {outcome['seconds']}" for name, outcome in ran["blocks"].items())
    print(
        f"README examples: {time.monotonic() - started:.1f} s in all, "
        f"{ran['setup_seconds']} s to set the world up; each block's: {each}"
    )
    return ran


def once_for_all_workers(tmp_path_factory: pytest.TempPathFactory, make: Callable[[], T]) -> T:
    """Each pytest-xdist worker has fixtures of its own: the first to ask makes
    the thing and writes it down, the others wait for it and read it."""
    folder = tmp_path_factory.getbasetemp()
    if "PYTEST_XDIST_WORKER" in os.environ:
        folder = folder.parent  # the workers' common one
    made = folder / "readme-world.json"
    with open(folder / "readme-world.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not made.exists():
            made.write_text(json.dumps(make()))
        shared: T = json.loads(made.read_text())
        return shared
