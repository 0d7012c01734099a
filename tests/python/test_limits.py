"""How the command line reads a run's limits."""

from __future__ import annotations

import pytest
from quillbox.cli import limits


@pytest.mark.parametrize(
    "text, size",
    [
        ("0", 0),
        ("1000", 1000),
        ("512K", 512 * 1024),
        ("512k", 512 * 1024),
        ("50M", 50 * 1024**2),
        ("1G", 1024**3),
        ("1GiB", 1024**3),
        ("2T", 2 * 1024**4),
        ("none", None),
        ("None", None),
    ],
)
def test_sizes(text, size):
    assert limits.size(text) == size


@pytest.mark.parametrize(
    "text, seconds",
    [("30", 30), ("90s", 90), ("5m", 300), ("2h", 7200), ("none", None)],
)
def test_durations(text, seconds):
    assert limits.duration(text) == seconds


@pytest.mark.parametrize(
    "read, text, message",
    [
        (limits.size, "", "expected a size"),
        (limits.size, "-1", "expected a size"),
        (limits.size, "1.5G", "expected a size"),
        (limits.size, "1GB", "expected a size"),  # decimal units would be a guess
        (limits.size, "M", "expected a size"),
        (limits.size, "١٢", "expected a size"),  # digits of another script
        (limits.duration, "1d", "expected a duration"),
        (limits.duration, "0", "a timeout of 0 would stop the command at once"),
        (limits.duration, "0m", "a timeout of 0 would stop the command at once"),
    ],
)
def test_malformed_limits_are_refused(read, text, message):
    with pytest.raises(ValueError, match=message):
        read(text)
