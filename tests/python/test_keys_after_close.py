"""Once a vault is closed, its host's memory holds no secret of it: no value, no
passphrase, and none of the keys derived from a passphrase (the Argon2 output, the
HKDF pseudorandom key, the encryption and MAC keys), whichever path derived them:
create, open, a save that merges another process's change, export, import, rekey.

The host reads its own memory after the close and writes it out unchanged; this
test, a separate process, computes every key with the reference implementation and
searches that evidence. The host never holds a secret in a Python object: the
passphrases go from a file straight into buffers it hands to putenv and wipes after
the close, and the one value it sets goes into a bytearray that quillbox wipes as it
takes it. No secret is in its initial environment either. Like an attacker, the host
runs without root's capabilities."""

from __future__ import annotations

import secrets
import subprocess
import sys
from pathlib import Path

import pytest
import reference_vault
from conftest import unprivileged

VARIABLES = {"open": "QB_OPEN_KEY", "import": "QB_IMPORT_KEY", "rekey": "QB_REKEY_KEY"}

HOST = r"""
import ctypes, os, shutil, sys
from quillbox import Vault, _vaultfile

work, m_cost, t_cost, p_cost = sys.argv[1], *map(int, sys.argv[2:5])
variables = sys.argv[5:]
libc = ctypes.CDLL(None, use_errno=True)

def at(name):
    return os.path.join(work, name)

def read_into(buffer_of_size, name):
    # read(2) straight into the buffer: no Python object sees the bytes.
    fd = os.open(at(name), os.O_RDONLY)
    try:
        size = os.fstat(fd).st_size
        buffer = buffer_of_size(size)
        if os.readv(fd, [memoryview(buffer)[:size]]) != size:
            sys.exit(f"short read of {name}")
        return buffer
    finally:
        os.close(fd)

# Each file holds "NAME=passphrase"; putenv keeps the buffer itself as the variable.
assignments = [read_into(lambda size: ctypes.create_string_buffer(size + 1), v) for v in variables]
for assignment in assignments:
    libc.putenv(assignment)
open_key, import_key, rekey_key = variables

_vaultfile.create_vault(at("created.bin"), m_cost, t_cost, p_cost, open_key)
with Vault(open_key, at("vault.bin")) as vault:
    vault.list_keys()
    result = vault.run("echo {{OPENED}}")
    if result.exit_code != 0:
        sys.exit(result.stderr)
    os.replace(at("changed.bin"), at("vault.bin"))  # another process saved meanwhile
    vault.set("SET", read_into(bytearray, "set-value"))
    shutil.copy(at("vault.bin"), at("after-set.bin"))
    vault.export(at("export.bin"))
    vault.import_vault(at("import.bin"), import_key_env=import_key)
    shutil.copy(at("vault.bin"), at("after-import.bin"))
    vault.rekey(rekey_key)

for name, assignment in zip(variables, assignments):
    libc.unsetenv(name.encode())
    ctypes.memset(assignment, 0, len(assignment))

# quillbox made the process undumpable, which leaves /proc/self/mem to root.
libc.prctl(4, ctypes.c_ulong(1), 0, 0, 0)  # PR_SET_DUMPABLE
with open("/proc/self/maps") as maps:
    regions = [line.split()[:2] for line in maps]
with open("/proc/self/mem", "rb", buffering=0) as mem, open(at("memory"), "wb") as out:
    for addresses, permissions in regions:
        if not permissions.startswith("rw"):
            continue  # a secret is only ever written to writable memory
        start, end = (int(address, 16) for address in addresses.split("-"))
        for piece in range(start, end, 1 << 20):
            try:
                mem.seek(piece)
                out.write(mem.read(min(1 << 20, end - piece)))
            except OSError:
                pass  # guard pages and the like
"""


def write_private(path: Path, data: bytes) -> None:
    path.write_bytes(data)
    path.chmod(0o600)


@pytest.mark.parametrize(
    "costs",
    [(8, 1, 1), (16, 1, 2)],
    # libsodium derives with one lane; the reference library takes the others.
    ids=["one lane", "two lanes"],
)
def test_no_secret_of_a_closed_vault_is_left_in_its_host(tmp_path, costs):
    passphrases = {role: secrets.token_hex(16).encode() for role in VARIABLES}
    values = {name: secrets.token_hex(16).encode() for name in ("OPENED", "CHANGED", "IMPORTED")}
    values["SET"] = secrets.token_hex(16).encode()

    def vault_of(entries: list[str], role: str) -> bytes:
        pairs = [(name, values[name]) for name in entries]
        return reference_vault.encode(pairs, passphrases[role], *costs)

    write_private(tmp_path / "vault.bin", vault_of(["OPENED"], "open"))
    write_private(tmp_path / "changed.bin", vault_of(["OPENED", "CHANGED"], "open"))
    write_private(tmp_path / "import.bin", vault_of(["IMPORTED"], "import"))
    write_private(tmp_path / "set-value", values["SET"])
    for role, variable in VARIABLES.items():
        write_private(tmp_path / variable, f"{variable}=".encode() + passphrases[role])
    originals = {name: (tmp_path / name).read_bytes() for name in ("vault.bin", "changed.bin")}

    arguments = [str(tmp_path), *map(str, costs), *VARIABLES.values()]
    host = subprocess.run(
        [*unprivileged(), sys.executable, "-c", HOST, *arguments],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert host.returncode == 0, host.stderr

    # Every file the host read or wrote, with the passphrase that opens it.
    images = {
        "opened": (originals["vault.bin"], "open"),
        "changed": (originals["changed.bin"], "open"),
        "created": ((tmp_path / "created.bin").read_bytes(), "open"),
        "after set": ((tmp_path / "after-set.bin").read_bytes(), "open"),
        "export": ((tmp_path / "export.bin").read_bytes(), "open"),
        "import": ((tmp_path / "import.bin").read_bytes(), "import"),
        "after import": ((tmp_path / "after-import.bin").read_bytes(), "open"),
        "rekeyed": ((tmp_path / "vault.bin").read_bytes(), "rekey"),
    }
    needles = {f"passphrase {role}": secret for role, secret in passphrases.items()}
    needles |= {f"value {name}": value for name, value in values.items()}
    for image_name, (image, role) in images.items():
        chain = reference_vault.key_chain_of(image, passphrases[role])
        needles |= {f"{key} of {image_name}": secret for key, secret in chain._asdict().items()}
    # The rekeyed file holds every value, so every write above was made and read back.
    assert sorted(reference_vault.decode(images["rekeyed"][0], passphrases["rekey"])) == sorted(
        values.items()
    )

    memory = (tmp_path / "memory").read_bytes()
    assert len(memory) > 1 << 20  # the host's heap and stacks were read
    assert [label for label, needle in needles.items() if needle in memory] == []
