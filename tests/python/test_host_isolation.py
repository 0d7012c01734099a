"""A command that a vault runs is a process of the same user as its host. Once the
vault is open, the command reads neither the host's memory (every decrypted value)
nor its initial environment (the passphrase) through /proc.

Root passes those checks whatever the host does, so the host runs without
capabilities: under setpriv when the tests run as root."""

from __future__ import annotations

import secrets
import subprocess
import sys
from pathlib import Path
from typing import NamedTuple

import pytest
from conftest import KEY_ENV, PASSPHRASE, require_sandbox, unprivileged

# Reads what it can of its parent, the host, and writes it unchanged to files in
# the folder it is given: raw evidence, which no redaction of the output touches.
# Prints, per target, "read" or the name of the error.
ATTACKER = r"""
import errno, os, sys

host = os.getppid()
evidence = sys.argv[1]

def read_environ():
    with open(f"/proc/{host}/environ", "rb") as environ:
        return environ.read()

def read_memory():
    chunks = []
    with open(f"/proc/{host}/mem", "rb", buffering=0) as mem, open(f"/proc/{host}/maps") as maps:
        for line in maps:
            addresses, permissions = line.split()[:2]
            if "r" not in permissions:
                continue
            start, end = (int(address, 16) for address in addresses.split("-"))
            try:
                mem.seek(start)
                chunks.append(mem.read(end - start))
            except OSError:
                pass  # [vvar] and the like cannot be read
    return b"".join(chunks)

for name, read in (("environ", read_environ), ("memory", read_memory)):
    try:
        data = read()
    except OSError as error:
        print(f"{name}: {errno.errorcode[error.errno]}")
        continue
    with open(os.path.join(evidence, name), "wb") as out:
        out.write(data)
    print(f"{name}: read")
"""

# Opens the vault and runs the command, in a sandbox that lets it read the
# interpreter if asked to. Yama, where the kernel has it, keeps a child from
# reading its parent's memory whatever quillbox does; the host lifts that, so
# that quillbox's own protection is what the test sees.
HOST = r"""
import ctypes, shlex, sys
from quillbox import Sandbox, Vault

PR_SET_DUMPABLE, PR_SET_PTRACER, PR_SET_PTRACER_ANY = 4, 0x59616D61, ctypes.c_ulong(-1)
key_env, vault_path, command, leave_dumpable, *sandbox_reads = sys.argv[1:]
libc = ctypes.CDLL(None, use_errno=True)
libc.prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0)  # fails harmlessly without Yama
with Vault(key_env, vault_path) as vault:
    if leave_dumpable == "yes" and libc.prctl(PR_SET_DUMPABLE, ctypes.c_ulong(1), 0, 0, 0) != 0:
        sys.exit(f"prctl(PR_SET_DUMPABLE, 1): errno {ctypes.get_errno()}")
    if sandbox_reads:
        result = vault.run_with(shlex.split(command), sandbox=Sandbox(read=sandbox_reads))
    else:
        result = vault.run(command)
sys.stdout.write(result.stdout)
sys.stderr.write(result.stderr)
sys.exit(result.exit_code)
"""


def skip_where_proc_hides_processes() -> None:
    for line in Path("/proc/mounts").read_text().splitlines():
        _, mount_point, kind, options = line.split()[:4]
        if mount_point == "/proc" and kind == "proc":
            hidepid = [o for o in options.split(",") if o.startswith("hidepid=")]
            if hidepid and hidepid[0] not in ("hidepid=0", "hidepid=off"):
                pytest.skip(f"/proc is mounted with {hidepid[0]}: other checks answer first")


class Attack(NamedTuple):
    outcome: dict[str, str]  # "environ" and "memory": "read" or the error's name
    evidence: dict[str, bytes]  # every file the attacker wrote, by name
    unnamed: bytes  # the vault value that the command does not name


def attack_host(
    tmp_path: Path, make_vault, leave_dumpable: bool, sandboxed: bool = False
) -> Attack:
    """Runs the attacker from a host holding a vault with one value that the
    command names and one that it does not; sandboxed, in the folder that holds
    the vault, with the interpreter readable."""
    skip_where_proc_hides_processes()
    prefix = unprivileged()
    unnamed = secrets.token_hex(16).encode()
    vault_path = make_vault([("NAMED", secrets.token_hex(16).encode()), ("UNNAMED", unnamed)])
    attacker = tmp_path / "attacker.py"
    attacker.write_text(ATTACKER)
    evidence = tmp_path / "evidence"
    evidence.mkdir()
    command = f"'{sys.executable}' '{attacker}' '{evidence}' {{{{NAMED}}}}"
    arguments = [KEY_ENV, str(vault_path), command, "yes" if leave_dumpable else "no"]
    if sandboxed:
        arguments += [sys.prefix, sys.base_prefix]
    host = subprocess.run(
        [*prefix, sys.executable, "-c", HOST, *arguments],
        capture_output=True,
        text=True,
        timeout=120,
        cwd=tmp_path,
    )
    assert host.returncode == 0, host.stderr
    return Attack(
        outcome=dict(line.split(": ") for line in host.stdout.splitlines()),
        evidence={path.name: path.read_bytes() for path in evidence.iterdir()},
        unnamed=unnamed,
    )


def test_a_command_reads_neither_memory_nor_environment_of_its_host(tmp_path, make_vault):
    attack = attack_host(tmp_path, make_vault, leave_dumpable=False)
    assert attack.outcome == {"environ": "EACCES", "memory": "EACCES"}
    # Not a byte came out: neither the passphrase nor the value never named.
    assert attack.evidence == {}


def test_without_the_protection_the_same_command_reads_both(tmp_path, make_vault):
    attack = attack_host(tmp_path, make_vault, leave_dumpable=True)
    assert attack.outcome == {"environ": "read", "memory": "read"}
    assert f"{KEY_ENV}={PASSPHRASE}".encode() in attack.evidence["environ"]
    assert attack.unnamed in attack.evidence["memory"]


def test_a_sandboxed_command_reads_neither_even_where_the_host_allows_it(tmp_path, make_vault):
    require_sandbox()
    attack = attack_host(tmp_path, make_vault, leave_dumpable=True, sandboxed=True)
    assert attack.outcome == {"environ": "EACCES", "memory": "EACCES"}
    assert attack.evidence == {}
