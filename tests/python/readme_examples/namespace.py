"""The private view the examples run in, set up from inside new network and
mount namespaces (`unshare --net --mount`): the loopback interface up, fresh
memory file systems over the folders the examples write, and files bound over
the system's own (`/etc/hosts`, the CA bundle, the user database), so that
nothing of the host's changes and all of it is gone when the namespaces end."""

from __future__ import annotations

import ctypes
import fcntl
import os
import socket
import stat
import struct
from pathlib import Path

MS_BIND = 0x1000
SIOCGIFFLAGS = 0x8913
SIOCSIFFLAGS = 0x8914
IFF_UP = 0x1

_libc = ctypes.CDLL(None, use_errno=True)


def _mount(source: str, target: Path, fstype: str | None, flags: int, data: str | None) -> None:
    encoded = [None if text is None else text.encode() for text in (fstype, data)]
    if _libc.mount(source.encode(), str(target).encode(), encoded[0], flags, encoded[1]) != 0:
        error = ctypes.get_errno()
        raise OSError(error, f"mount {source} on {target}: {os.strerror(error)}")


def memory_folder(target: Path, mode: int) -> None:
    """Covers `target` with an empty tmpfs."""
    _mount("tmpfs", target, "tmpfs", 0, f"mode={mode:o}")


def bind(source: Path, target: Path) -> None:
    _mount(str(source), target, None, MS_BIND, None)


def cover_file(target: Path, content: str, folder: Path) -> None:
    """Shows `content` at `target`, from a file kept in `folder`."""
    source = folder / target.name
    source.write_text(content)
    source.chmod(0o644)
    bind(source, target)


def bring_up_loopback() -> None:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        request = struct.pack("16sh", b"lo", 0)
        flags = struct.unpack("16sh", fcntl.ioctl(probe, SIOCGIFFLAGS, request))[1]
        fcntl.ioctl(probe, SIOCSIFFLAGS, struct.pack("16sh", b"lo", flags | IFF_UP))


def _cover_leaving(folder: Path, names: set[str], mode: int = 0o755) -> None:
    """Covers `folder` with a tmpfs of `mode` (one that everyone can pass
    through), holding only `names`, each bound from the original."""
    originals = {name: os.open(folder / name, os.O_PATH) for name in names}
    try:
        memory_folder(folder, mode)
        for name, original in originals.items():
            if stat.S_ISDIR(os.fstat(original).st_mode):
                (folder / name).mkdir()
            else:
                (folder / name).touch()
            bind(Path(f"/proc/self/fd/{original}"), folder / name)
    finally:
        for original in originals.values():
            os.close(original)


def memory_folder_keeping(folder: Path, mode: int, paths: list[Path]) -> None:
    """Covers `folder` with an empty tmpfs of `mode`, but for the ways to those
    of `paths` that lie beneath it (a checkout and its virtual environment in
    /tmp, say), which stay as they are."""
    kept = {path.relative_to(folder).parts[0] for path in paths if path.is_relative_to(folder)}
    if kept:
        _cover_leaving(folder, kept, mode)
    else:
        memory_folder(folder, mode)


def open_the_way_to(paths: list[Path]) -> None:
    """Lets every user reach `paths`: each folder on the way that others cannot
    pass through (root's home, where an interpreter may be installed) is
    covered by one that holds only the next steps of the ways through it."""
    depth = 1
    while any(len(path.parts) > depth for path in paths):
        next_steps: dict[Path, set[str]] = {}
        for path in paths:
            if len(path.parts) > depth:
                next_steps.setdefault(Path(*path.parts[:depth]), set()).add(path.parts[depth])
        for folder, names in next_steps.items():
            if not os.stat(folder).st_mode & stat.S_IXOTH:
                _cover_leaving(folder, names)
        depth += 1
