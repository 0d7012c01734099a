#include "core/locked_region.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/message_format.hpp"
#include "core/warnings.hpp"

namespace quillbox {
namespace {

std::string bytes_count(std::uint64_t length) {
    return std::to_string(length) + " bytes";
}

// The advice must never reach memory outside the value's own buffer, and a heap
// buffer shares its first and last page with other data: only the whole pages
// inside the buffer are advised, and nothing when there are none.
void advise_free(const LockedRegion& region) {
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = (region.address + page - 1) / page * page;
    const std::uintptr_t last = (region.address + region.length) / page * page;
    if (last <= first) return;
    if (::madvise(reinterpret_cast<void*>(first), last - first, MADV_FREE) != 0) {
        write_warning("madvise(MADV_FREE, " + bytes_count(region.length) +
                      ") failed: " + os_error_text(errno));
    }
}

}  // namespace

bool lock_region(const void* address, std::uint64_t length) {
    if (length == 0) return true;
    if (::mlock(address, length) == 0) return true;
    write_warning("mlock(" + bytes_count(length) + ") failed: " + os_error_text(errno) +
                  " — secrets may be swapped to disk");
    return false;
}

void release_locked_secrets(LockedRegions& regions, VaultEntries& entries) {
    for (const LockedRegion& region : regions) {
        if (region.length == 0) continue;
        if (::munlock(reinterpret_cast<const void*>(region.address), region.length) != 0) {
            write_warning("munlock(" + bytes_count(region.length) +
                          ") failed: " + os_error_text(errno));
        }
        advise_free(region);
    }
    regions.clear();
    for (VaultEntry& entry : entries) entry.value.wipe();
    // Each removed value is wiped again as it is freed; names are not secret.
    VaultEntries removed = std::move(entries);
    entries.clear();
}

}  // namespace quillbox
