"""Both extension modules run on one copy of the core, so that what the core
keeps for the whole process is kept once: here, how many locked buffers
share each page, which decides when a page may be unlocked."""

from __future__ import annotations

import ctypes
import mmap
import re
from pathlib import Path
from types import ModuleType

import pytest
from quillbox import _native, _vaultfile

# quillbox::lock_memory(const void*, std::size_t) and unlock_memory, as the
# core exports them.
LOCK_MEMORY = "_ZN8quillbox11lock_memoryEPKvm"
UNLOCK_MEMORY = "_ZN8quillbox13unlock_memoryEPKvm"


def locked_kib() -> int:
    status = Path("/proc/self/status").read_text()
    return int(re.search(r"^VmLck:\s+(\d+) kB$", status, re.MULTILINE).group(1))


class MemoryLocking:
    """The core's lock and unlock, as one module resolves them."""

    def __init__(self, module: ModuleType) -> None:
        library = ctypes.CDLL(module.__file__)
        self.lock = getattr(library, LOCK_MEMORY)
        self.lock.argtypes, self.lock.restype = [ctypes.c_void_p, ctypes.c_size_t], ctypes.c_bool
        self.unlock = getattr(library, UNLOCK_MEMORY)
        self.unlock.argtypes, self.unlock.restype = [ctypes.c_void_p, ctypes.c_size_t], None


@pytest.fixture
def page():
    """The address of one page of its own."""
    mapping = mmap.mmap(-1, mmap.PAGESIZE)
    view = ctypes.c_char.from_buffer(mapping)
    yield ctypes.addressof(view)
    del view
    mapping.close()


def test_a_page_locked_through_one_module_stays_locked_while_the_other_releases_its_share(page):
    public, creation = MemoryLocking(_native), MemoryLocking(_vaultfile)
    page_kib = mmap.PAGESIZE // 1024
    before = locked_kib()

    assert public.lock(page, 64)
    assert creation.lock(page + 64, 64)
    assert locked_kib() == before + page_kib
    creation.unlock(page + 64, 64)
    # The first buffer still holds the page: a second copy of the counts would
    # have seen none left and unlocked it.
    assert locked_kib() == before + page_kib
    public.unlock(page, 64)
    assert locked_kib() == before
