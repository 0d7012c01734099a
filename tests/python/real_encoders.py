"""What Python's own encoders make of a secret, and which part of that depends
on the secret alone. Run as a program, it prints each encoding of its first
argument as one line "NAME<TAB>TEXT", so that a child of a run can print
them; the tests compute the same encodings to know what must not be visible."""

from __future__ import annotations

import base64
import json
import os
import re
import sys
import urllib.parse
from typing import Callable, NamedTuple


class Encoded(NamedTuple):
    text: str
    # The part of `text` that any text holding the secret so encoded holds.
    secret_part: str


# The length of a piece of a secret's encoding that must not stay in sight.
VISIBLE_PIECE = 6


def visible_pieces(secret_part: str, output: str) -> list[str]:
    """The pieces of VISIBLE_PIECE characters of `secret_part` that `output` holds."""
    starts = range(len(secret_part) - VISIBLE_PIECE + 1)
    pieces = (secret_part[start : start + VISIBLE_PIECE] for start in starts)
    return [piece for piece in pieces if piece in output]


def base64_secret_part(encoded: str, bytes_before: int, secret_length: int) -> str:
    """The Base64 digits that lie wholly within the secret's bytes."""
    first = -(-8 * bytes_before // 6)
    end = 8 * (bytes_before + secret_length) // 6
    return encoded[first:end]


def base64_around(before: bytes, secret: bytes, after: bytes, encode=base64.b64encode) -> Encoded:
    text = encode(before + secret + after).decode()
    return Encoded(text, base64_secret_part(text, len(before), len(secret)))


def whole(text: str) -> Encoded:
    return Encoded(text, text)


def lower_hex(percent_encoded: str) -> str:
    return re.sub(r"%[0-9A-F]{2}", lambda escape: escape.group(0).lower(), percent_encoded)


ENCODERS: dict[str, Callable[[bytes], Encoded]] = {
    # HTTP Basic credentials: user names of every length modulo 3.
    **{
        f"basic auth as {user or 'nobody'}": (
            lambda secret, user=user: base64_around(f"{user}:".encode(), secret, b"")
        )
        for user in ("", "a", "ab", "user", "admin", "deploy")
    },
    # echo "$T" | base64
    "base64 with a line feed": lambda secret: base64_around(b"", secret, b"\n"),
    "base64 unpadded": lambda secret: whole(base64.b64encode(secret).decode().rstrip("=")),
    "base64url unpadded": lambda secret: whole(
        base64.urlsafe_b64encode(secret).decode().rstrip("=")
    ),
    **{
        f"inside a base64 blob, {before} bytes in": (
            lambda secret, before=before: base64_around(b"\x89PNG\r\n"[:before], secret, b"\0")
        )
        for before in (3, 4, 5)
    },
    "inside a base64url blob": lambda secret: base64_around(
        b'{"k":"', secret, b'"}', base64.urlsafe_b64encode
    ),
    "json.dumps": lambda secret: whole(json.dumps(secret.decode())[1:-1]),
    "json.dumps utf-8": lambda secret: whole(json.dumps(secret.decode(), ensure_ascii=False)[1:-1]),
    "urllib.parse.quote": lambda secret: whole(urllib.parse.quote(secret)),
    "urllib.parse.quote, nothing safe": lambda secret: whole(urllib.parse.quote(secret, safe="")),
    "urllib.parse.quote_plus": lambda secret: whole(urllib.parse.quote_plus(secret)),
    "percent with lower-case hex": lambda secret: whole(
        lower_hex(urllib.parse.quote(secret, safe=""))
    ),
}


if __name__ == "__main__":
    secret = os.fsencode(sys.argv[1])
    for name, encoder in ENCODERS.items():
        print(f"{name}\t{encoder(secret).text}")
