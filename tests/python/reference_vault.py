"""An independent implementation of the vault file format, for the tests.

Written from the format's definition with argon2-cffi and cryptography only, so
that a vault made here opening in quillbox (and the other way round) shows that
both sides agree on every byte.
"""

from __future__ import annotations

import os
import struct
from collections.abc import Iterable, Sequence

from argon2.low_level import Type, hash_secret_raw
from cryptography.hazmat.primitives import hashes, hmac
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

MAGIC = b"QUILLBOX"
FORMAT_VERSION = 1
MARKER_BYTE = 1
HEADER_SIZE = 74
MAC_SIZE = 32

Entry = tuple[str, bytes]


def derive_keys(passphrase: bytes, salt: bytes, m_cost: int, t_cost: int, p_cost: int):
    """The (encryption key, MAC key) pair for one salt."""
    stretched = hash_secret_raw(
        secret=passphrase,
        salt=salt,
        time_cost=t_cost,
        memory_cost=m_cost,
        parallelism=p_cost,
        hash_len=32,
        type=Type.ID,
        version=19,
    )

    def expand(label: bytes) -> bytes:
        # salt=None is HashLen zero bytes, the same HMAC key as the empty salt.
        return HKDF(algorithm=hashes.SHA256(), length=32, salt=None, info=label).derive(stretched)

    return expand(b"quillbox-enc-v1"), expand(b"quillbox-mac-v1")


def hmac_sha256(key: bytes, data: bytes) -> bytes:
    mac = hmac.HMAC(key, hashes.SHA256())
    mac.update(data)
    return mac.finalize()


def encode(
    entries: Sequence[Entry],
    passphrase: bytes,
    m_cost: int = 8,
    t_cost: int = 1,
    p_cost: int = 1,
    salt: bytes | None = None,
    nonces: Iterable[bytes] | None = None,
) -> bytes:
    """A complete vault image; salt and nonces are random unless given."""
    salt = os.urandom(16) if salt is None else salt
    nonces = [os.urandom(12) for _ in entries] if nonces is None else list(nonces)
    encryption_key, mac_key = derive_keys(passphrase, salt, m_cost, t_cost, p_cost)
    header = (
        MAGIC
        + bytes([FORMAT_VERSION, MARKER_BYTE])
        + struct.pack("<III", m_cost, t_cost, p_cost)
        + salt
        + struct.pack("<I", len(entries))
        + bytes(32)
    )
    assert len(header) == HEADER_SIZE
    body = header + hmac_sha256(mac_key, header)
    cipher = AESGCM(encryption_key)
    for index, ((name, value), nonce) in enumerate(zip(entries, nonces)):
        encoded_name = name.encode()
        plaintext = struct.pack("<H", len(encoded_name)) + encoded_name + value
        sealed = cipher.encrypt(nonce, plaintext, struct.pack(">I", index))
        body += nonce + struct.pack("<I", len(sealed)) + sealed
    return body + hmac_sha256(mac_key, body)


def decode(image: bytes, passphrase: bytes) -> list[Entry]:
    """The entries of a vault image; raises ValueError when it does not verify."""
    if image[:8] != MAGIC or image[8] != FORMAT_VERSION:
        raise ValueError("not a version 1 vault image")
    m_cost, t_cost, p_cost = struct.unpack_from("<III", image, 10)
    salt = image[22:38]
    (entry_count,) = struct.unpack_from("<I", image, 38)
    encryption_key, mac_key = derive_keys(passphrase, salt, m_cost, t_cost, p_cost)
    header, header_mac = image[:HEADER_SIZE], image[HEADER_SIZE : HEADER_SIZE + MAC_SIZE]
    if hmac_sha256(mac_key, header) != header_mac:
        raise ValueError("header MAC mismatch")
    if hmac_sha256(mac_key, image[:-MAC_SIZE]) != image[-MAC_SIZE:]:
        raise ValueError("commit tag mismatch")
    cipher = AESGCM(encryption_key)
    entries = []
    offset = HEADER_SIZE + MAC_SIZE
    for index in range(entry_count):
        nonce = image[offset : offset + 12]
        (sealed_length,) = struct.unpack_from("<I", image, offset + 12)
        sealed = image[offset + 16 : offset + 16 + sealed_length]
        offset += 16 + sealed_length
        plaintext = cipher.decrypt(nonce, sealed, struct.pack(">I", index))
        (name_length,) = struct.unpack_from("<H", plaintext, 0)
        entries.append((plaintext[2 : 2 + name_length].decode(), plaintext[2 + name_length :]))
    if offset != len(image) - MAC_SIZE:
        raise ValueError("entry records do not fill the image")
    return entries
