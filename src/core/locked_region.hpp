#pragma once

#include <cstdint>
#include <vector>

#include "core/vault_entry.hpp"

namespace quillbox {

// A value buffer locked into memory: the value's own start and length, with no
// rounding; the kernel applies its page granularity.
struct LockedRegion {
    std::uintptr_t address;
    std::uint64_t length;
};

using LockedRegions = std::vector<LockedRegion>;

// Locks [address, address + length) with mlock. An empty range is "locked"
// without a system call. A refusal is a warning, and the result is false.
bool lock_region(const void* address, std::uint64_t length);

// The close-time release: unlocks and advises away every recorded region, then
// wipes every value and removes the entries.
void release_locked_secrets(LockedRegions& regions, VaultEntries& entries);

}  // namespace quillbox
