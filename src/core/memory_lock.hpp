#pragma once

#include <cstddef>

namespace quillbox {

// Locks [address, address + length) into physical memory with mlock, so that
// it is never written to swap. An empty range is locked without a system call.
// A refusal is reported (lock_refusals.hpp), and the result is false.
bool lock_memory(const void* address, std::size_t length);

// Gives up the lock of a range that lock_memory locked, once its bytes have
// been wiped: unlocks the pages that no other locked range of this process
// touches, then advises the kernel that the whole pages inside the range hold
// nothing worth keeping. Refusals are warnings.
void unlock_memory(const void* address, std::size_t length);

}  // namespace quillbox
