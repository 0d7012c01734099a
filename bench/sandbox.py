"""Vault.run_with(["true"], sandbox=Sandbox()) against Vault.run_with(["true"]).

Both run through the same vault in the same workspace, timed side by side in one
process (interleaved, median of many runs, after one warm-up run each); the
medians, their difference (the sandbox's cost a run: a thread, a Landlock ruleset
and a few system calls, on top of a spawn) and the ratio sandboxed / unsandboxed
are printed for two workspaces:

    plain     a folder that does not hold the vault
    crowded   the folder that holds the vault file beside 200 other files: the
              ruleset cannot cover it with one rule, and gets one for each entry

Every run must exit 0, and before the timing a sandboxed `cat` of the vault must be
refused, so that what is timed is a sandbox in force. The folders are made in the
checkout's build/, not under /tmp: a vault beneath a folder the sandbox allows as a
whole (the temporary folders among them) makes the ruleset list that folder, a cost
that would depend on whatever else lies there. The goal: a ratio of at most 1.5 in
the plain workspace; the exit status is non-zero when it is missed.

On a machine whose other cores are busy, a new thread or child that lands behind
another process can wait a whole scheduler tick, and a sandboxed run starts two (its
thread and its child): `--cpu N` keeps this process, and so every thread and child it
starts, on that one CPU, so that what is left is the sandbox's own work.

    .venv/bin/python bench/sandbox.py [--runs N] [--cpu N]
"""

from __future__ import annotations

import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

from bench_vault import PASSPHRASE, few_entries, goal_line, write_vault
from quillbox import Sandbox, Vault

KEY_ENV = "QUILLBOX_BENCH_KEY"
NEIGHBOURS = 200
GOAL = 1.5


def timed_run(vault: Vault, workspace: Path, sandbox: Sandbox | None) -> float:
    started = time.perf_counter()
    result = vault.run_with(["true"], cwd=workspace, sandbox=sandbox)
    elapsed = time.perf_counter() - started
    assert result.exit_code == 0, f"`true` exited {result.exit_code} in {workspace.name}"
    return elapsed


def check_vault_out_of_reach(vault: Vault, vault_path: Path, workspace: Path) -> None:
    result = vault.run_with(["cat", str(vault_path)], cwd=workspace, sandbox=Sandbox())
    assert result.exit_code != 0, f"a sandboxed cat read the vault from {workspace.name}"


def measure(vault: Vault, workspace: Path, runs: int) -> tuple[float, float]:
    """The median times of a sandboxed and of an unsandboxed run, taking turns."""
    sandboxed, unsandboxed = [], []
    timed_run(vault, workspace, Sandbox())
    timed_run(vault, workspace, None)
    for _ in range(runs):
        sandboxed.append(timed_run(vault, workspace, Sandbox()))
        unsandboxed.append(timed_run(vault, workspace, None))
    return statistics.median(sandboxed), statistics.median(unsandboxed)


def make_folders(directory: Path) -> tuple[Path, dict[str, Path]]:
    """The vault, in a folder beside 200 other files, and the two workspaces."""
    plain, crowded = directory / "plain", directory / "crowded"
    plain.mkdir()
    crowded.mkdir()
    for i in range(NEIGHBOURS):
        (crowded / f"file-{i:03}.txt").write_text(f"file {i} of the workspace\n")
    vault_path = write_vault(crowded / "vault.bin", few_entries())
    return vault_path, {"plain": plain, "crowded": crowded}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=300)
    parser.add_argument("--cpu", type=int, help="run on this one CPU only")
    args = parser.parse_args()
    if args.cpu is not None:
        os.sched_setaffinity(0, {args.cpu})
    runs = args.runs
    os.environ[KEY_ENV] = PASSPHRASE
    Sandbox.check()
    scratch = Path(__file__).resolve().parents[1] / "build"
    scratch.mkdir(exist_ok=True)
    ratios = {}
    with tempfile.TemporaryDirectory(prefix="bench-sandbox-", dir=scratch) as directory:
        vault_path, workspaces = make_folders(Path(directory))
        print(f"`true`, median of {runs} runs each, taking turns, same vault and workspace")
        print(f"{'workspace':<10} {'sandboxed':>12} {'unsandboxed':>12} {'cost':>10} {'ratio':>7}")
        with Vault(KEY_ENV, str(vault_path)) as vault:
            for name, workspace in workspaces.items():
                check_vault_out_of_reach(vault, vault_path, workspace)
                sandboxed, unsandboxed = measure(vault, workspace, runs)
                ratios[name] = sandboxed / unsandboxed
                print(
                    f"{name:<10} {sandboxed * 1e3:>9.3f} ms {unsandboxed * 1e3:>9.3f} ms "
                    f"{(sandboxed - unsandboxed) * 1e6:>7.0f} µs {ratios[name]:>7.2f}"
                )
    print(goal_line(ratios["plain"], GOAL, "plain workspace"))
    sys.exit(0 if ratios["plain"] <= GOAL else 1)


if __name__ == "__main__":
    main()
