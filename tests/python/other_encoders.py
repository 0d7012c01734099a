"""What encoders of other languages, HTML escapers and shell quoting write for
a secret, and the part of it that depends on the secret alone.

Where no program of the language is at hand, the encoder is emulated from its
documented rules: Go's net/url and encoding/json, PHP's urlencode and
json_encode, Java's URLEncoder and Gson. Run as a program, this prints each
emulation of its first argument as one line "NAME<TAB>TEXT", so that a child of
a run can print them. The same rules describe what the real programs (node,
jq, bash, Python) write, which the tests check against their output."""

from __future__ import annotations

import os
import string
import sys
from typing import Callable

LETTERS_AND_DIGITS = string.ascii_letters + string.digits
UNRESERVED = LETTERS_AND_DIGITS + "-._~"


def percent(secret: bytes, kept: str, space_as_plus: bool = False) -> str:
    """Every byte outside `kept` as %XX, upper-case hex."""
    return "".join(
        "+"
        if space_as_plus and byte == 0x20
        else chr(byte)
        if chr(byte) in kept
        else f"%{byte:02X}"
        for byte in secret
    )


def json_inside(
    secret: bytes,
    escaped: str = "",
    upper_escaped: str = "",
    line_separators: bool = True,
    escape_slash: bool = False,
    ascii_only: bool = False,
) -> str:
    r"""The inside of a JSON string: `escaped` and `upper_escaped` ASCII
    characters as \u00xx (the latter with upper-case hex), U+2028 and U+2029
    escaped or not, characters beyond ASCII as \uxxxx or kept."""
    short = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\f": "\\f", "\n": "\\n", "\r": "\\r"}
    short["\t"] = "\\t"
    if escape_slash:
        short["/"] = "\\/"
    pieces = []
    for character in secret.decode():
        code = ord(character)
        if character in short:
            pieces.append(short[character])
        elif character in upper_escaped:
            pieces.append(f"\\u{code:04X}")
        elif code < 0x20 or character in escaped or (line_separators and code in (0x2028, 0x2029)):
            pieces.append(f"\\u{code:04x}")
        elif ascii_only and code > 0x7E:
            pieces.append(
                "".join(
                    f"\\u{unit:04x}"
                    for unit in (
                        [code]
                        if code < 0x10000
                        else [0xD800 + ((code - 0x10000) >> 10), 0xDC00 + (code & 0x3FF)]
                    )
                )
            )
        else:
            pieces.append(character)
    return "".join(pieces)


# Emulated: name -> the text the encoder writes for a secret, which is all of it
# the secret's own.
EMULATED: dict[str, Callable[[bytes], str]] = {
    "Go url.PathEscape": lambda secret: percent(secret, UNRESERVED + "$&+:=@"),
    "Go url.QueryEscape": lambda secret: percent(secret, UNRESERVED, space_as_plus=True),
    "Go url.UserPassword": lambda secret: percent(secret, UNRESERVED + "$&+,;="),
    "Go url.URL path": lambda secret: percent(secret, UNRESERVED + "$&+,/:;=@"),
    "PHP urlencode": lambda secret: percent(secret, LETTERS_AND_DIGITS + "-._", True),
    "PHP rawurlencode": lambda secret: percent(secret, UNRESERVED),
    "Java URLEncoder": lambda secret: percent(secret, LETTERS_AND_DIGITS + "-._*", True),
    "Go encoding/json": lambda secret: json_inside(secret, escaped="<>&"),
    "Gson": lambda secret: json_inside(secret, escaped="<>&='"),
    "PHP json_encode, JSON_HEX_TAG|AMP|APOS": lambda secret: json_inside(
        secret, escaped="&'", upper_escaped="<>", escape_slash=True, ascii_only=True
    ),
}

# The characters after which, or at the start of a word, bash counts a word as
# needing quotes when it traces it.
SHELL_METAS = set(" \t\n'\"\\|&;()<>!{}*[?]^$`#~=")


def printable(byte: int, utf8: bool) -> bool:
    return 0x20 <= byte < 0x7F or (utf8 and byte >= 0x80)


def ansi_c(secret: bytes, utf8: bool) -> str:
    r"""The inside of bash's $'...': C escapes, other bytes that are not
    printable in the locale as \ooo."""
    named = {0x07: b"a", 0x08: b"b", 0x0C: b"f", 0x0A: b"n", 0x0D: b"r", 0x09: b"t", 0x0B: b"v"}
    named |= {0x1B: b"E", ord("'"): b"'", ord("\\"): b"\\"}
    written = bytearray()
    for byte in secret:
        if byte in named:
            written += b"\\" + named[byte]
        elif printable(byte, utf8):
            written.append(byte)
        else:
            written += b"\\%03o" % byte
    return written.decode()


def bash_x_word(secret: bytes, utf8: bool) -> str:
    """The inside of the word that bash -x writes for a whole argument."""
    text = secret.decode()
    if any(character in SHELL_METAS for character in text):
        return text.replace("'", "'\\''")
    if all(printable(byte, utf8) for byte in secret):
        return text
    return ansi_c(secret, utf8)


def printf_q(secret: bytes, utf8: bool) -> str:
    """The inside of what bash's printf %q writes for a whole argument, less a
    backslash before a leading "#" or "~"."""
    if not all(printable(byte, utf8) for byte in secret):
        return ansi_c(secret, utf8)
    specials = set(" \t\n'\"\\|&;()<>!{}*[?]^$`,")
    return "".join("\\" + c if c in specials else c for c in secret.decode())


if __name__ == "__main__":
    secret = os.fsencode(sys.argv[1])
    for name, encoder in EMULATED.items():
        print(f"{name}\t{encoder(secret)}")
