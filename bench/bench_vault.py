"""What the benchmarks share: a vault file of a few entries, or of many random
tokens, under cheap key-derivation costs, so that a benchmark measures
quillbox's own work rather than the passphrase's deliberate cost, and the lines
that tell a goal met or missed.
"""

from __future__ import annotations

import secrets
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


def token_entries(count: int) -> list[tuple[str, bytes]]:
    """`count` entries, each a random token of 32 URL-safe characters."""
    return [(f"KEY_{i}", random_token()) for i in range(count)]


def random_token() -> bytes:
    return secrets.token_urlsafe(24).encode()


def goal_line(ratio: float, goal: float, what: str = "") -> str:
    """`ratio=1.12 goal<=1.50 (what): met`, or MISSED."""
    about = f" ({what})" if what else ""
    return f"ratio={ratio:.2f} goal<={goal:.2f}{about}: {'met' if ratio <= goal else 'MISSED'}"


def time_goal_line(seconds: float, goal_seconds: float, what: str = "") -> str:
    """`time=31.2ms goal<=40ms (what): met`, or MISSED."""
    about = f" ({what})" if what else ""
    met = "met" if seconds <= goal_seconds else "MISSED"
    return f"time={seconds * 1e3:.1f}ms goal<={goal_seconds * 1e3:g}ms{about}: {met}"
