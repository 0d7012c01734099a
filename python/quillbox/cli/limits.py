"""The limits of a command run from the command line: how they are written,
and what the command line says when one stops a command.

A limit is a whole number with an optional unit, or `none` for no limit at all:
sizes take K, M, G and T (powers of 1024, with or without `iB`), durations s, m
and h.
"""

from __future__ import annotations

NO_LIMIT = "none"
BINARY_PREFIXES = {"k": 1024, "m": 1024**2, "g": 1024**3, "t": 1024**4}
SIZE_UNITS = {
    "": 1,
    **BINARY_PREFIXES,
    **{f"{prefix}ib": factor for prefix, factor in BINARY_PREFIXES.items()},
}
DURATION_UNITS = {"": 1, "s": 1, "m": 60, "h": 3600}


def split_unit(text: str) -> tuple[int, str]:
    """The leading whole number of `text` and the lowercased rest."""
    digits = len(text) - len(text.lstrip("0123456789"))
    if digits == 0 or not text.isascii():
        raise ValueError("not a whole number")
    return int(text[:digits]), text[digits:].lower()


def size(text: str) -> int | None:
    """Bytes from `1000`, `512K`, `50M`, `1GiB`...; None for `none`."""
    if text.lower() == NO_LIMIT:
        return None
    try:
        number, unit = split_unit(text)
        return number * SIZE_UNITS[unit]
    except (ValueError, KeyError):
        raise ValueError(
            f"expected a size such as 1000, 512K, 50M or 1G, or {NO_LIMIT}: {text}"
        ) from None


def duration(text: str) -> int | None:
    """Seconds from `30`, `30s`, `5m`, `2h`; None for `none`. Zero would stop a
    command before it could start, so it is refused."""
    if text.lower() == NO_LIMIT:
        return None
    try:
        number, unit = split_unit(text)
        seconds = number * DURATION_UNITS[unit]
    except (ValueError, KeyError):
        raise ValueError(
            f"expected a duration such as 30, 90s, 5m or 2h, or {NO_LIMIT}: {text}"
        ) from None
    if seconds == 0:
        raise ValueError(
            f"a timeout of 0 would stop the command at once; give {NO_LIMIT} for no timeout"
        )
    return seconds


def describe_size(limit: int) -> str:
    """`1000 bytes`, or `50 MiB` where the limit is a whole number of a unit."""
    for unit, factor in (("TiB", 1024**4), ("GiB", 1024**3), ("MiB", 1024**2), ("KiB", 1024)):
        if limit >= factor and limit % factor == 0:
            return f"{limit // factor} {unit}"
    return f"{limit} bytes"


def stop_message(
    stopped_by: str | None, timeout: int | None, max_output: int | None, max_stderr: int | None
) -> str | None:
    """What the command line says when it stopped a command, naming the limit;
    nothing when the command ended on its own, whatever its exit status."""
    if stopped_by == "timeout":
        if timeout is None:  # only the redaction of what it printed last can time out
            return "the command's last output could not be redacted in time and was dropped"
        return f"the command was stopped after its timeout of {timeout} s"
    if stopped_by == "stdout limit" and max_output is not None:
        return (
            "the command was stopped: its standard output passed --max-output-bytes "
            f"({describe_size(max_output)})"
        )
    if stopped_by == "stderr limit" and max_stderr is not None:
        return (
            "the command was stopped: its standard error passed --max-stderr-bytes "
            f"({describe_size(max_stderr)})"
        )
    return None
