"""What the benchmarks share: a vault file of a few entries under cheap
key-derivation costs, so that a benchmark measures quillbox's own work rather
than the passphrase's deliberate cost, and the line that tells a goal met or
missed.
"""

from __future__ import annotations

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "python"))
import reference_vault

PASSPHRASE = "benchmark passphrase"


def write_vault(path: Path, entries: list[tuple[str, bytes]]) -> Path:
    """A vault file at `path` holding `entries`, readable by its owner alone,
    under PASSPHRASE."""
    path.write_bytes(reference_vault.encode(entries, PASSPHRASE.encode()))
    path.chmod(0o600)
    return path


def few_entries() -> list[tuple[str, bytes]]:
    return [(f"KEY_{i}", f"value-{i}-of-the-benchmark".encode()) for i in range(5)]


def goal_line(ratio: float, goal: float, what: str = "") -> str:
    """`ratio=1.12 goal<=1.50 (what): met`, or MISSED."""
    about = f" ({what})" if what else ""
    return f"ratio={ratio:.2f} goal<={goal:.2f}{about}: {'met' if ratio <= goal else 'MISSED'}"
