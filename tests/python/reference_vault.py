"""An independent implementation of the vault file format, for the tests.

Written from the format's definition with argon2-cffi and cryptography only, so
that a vault made here opening in quillbox (and the other way round) shows that
both sides agree on every byte.
"""

from __future__ import annotations

import os
import struct
from collections.abc import Iterable, Sequence
from typing import NamedTuple

from argon2.low_level import Type, hash_secret_raw
from cryptography.hazmat.primitives import hashes, hmac
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDFExpand

MAGIC = b"QUILLBOX"
FORMAT_VERSION = 1
MARKER_BYTE = 1
HEADER_SIZE = 74
MAC_SIZE = 32

Entry = tuple[str, bytes]


class KeyChain(NamedTuple):
    """Every key derived from one passphrase under one salt, in the order derived."""

    argon2_output: bytes
    pseudorandom_key: bytes  # HKDF extract of the Argon2 output
    encryption_key: bytes
    mac_key: bytes


def derive_key_chain(
    passphrase: bytes, salt: bytes, m_cost: int, t_cost: int, p_cost: int
) -> KeyChain:
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
    # HKDF extract with no salt: HMAC under HashLen zero bytes, the same key as the empty salt.
    pseudorandom_key = hmac_sha256(bytes(32), stretched)

    def expand(label: bytes) -> bytes:
        return HKDFExpand(algorithm=hashes.SHA256(), length=32, info=label).derive(pseudorandom_key)

    return KeyChain(
        stretched, pseudorandom_key, expand(b"quillbox-enc-v1"), expand(b"quillbox-mac-v1")
    )


def key_chain_of(image: bytes, passphrase: bytes) -> KeyChain:
    """The keys of a vault image, under the salt and costs of its header."""
    m_cost, t_cost, p_cost = struct.unpack_from("<III", image, 10)
    return derive_key_chain(passphrase, image[22:38], m_cost, t_cost, p_cost)


def derive_keys(passphrase: bytes, salt: bytes, m_cost: int, t_cost: int, p_cost: int):
    """The (encryption key, MAC key) pair for one salt."""
    chain = derive_key_chain(passphrase, salt, m_cost, t_cost, p_cost)
    return chain.encryption_key, chain.mac_key


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
