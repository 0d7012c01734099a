#include "core/memory_lock.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "core/message_format.hpp"
#include "core/page_lock_counts.hpp"
#include "core/warnings.hpp"

namespace quillbox {
namespace {

// The locks of every buffer in the process. It is never destroyed, so that a
// buffer released during the process's exit still finds it.
struct ProcessPageLocks {
    std::mutex mutex;
    PageLockCounts counts{static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))};
};

ProcessPageLocks& process_page_locks() {
    static auto* locks = new ProcessPageLocks;
    return *locks;
}

std::string bytes_count(std::size_t length) {
    return std::to_string(length) + " bytes";
}

// The advice must never reach memory outside the range, and a heap buffer
// shares its first and last page with other data: only the whole pages inside
// the range are advised, and nothing when there are none.
void advise_free(std::uintptr_t address, std::size_t length, std::size_t page) {
    const std::uintptr_t first = (address + page - 1) / page * page;
    const std::uintptr_t last = (address + length) / page * page;
    if (last <= first) return;
    if (::madvise(reinterpret_cast<void*>(first), last - first, MADV_FREE) != 0) {
        write_warning("madvise(MADV_FREE, " + bytes_count(length) +
                      ") failed: " + os_error_text(errno));
    }
}

}  // namespace

bool lock_memory(const void* address, std::size_t length) {
    if (length == 0) return true;
    ProcessPageLocks& locks = process_page_locks();
    const std::lock_guard guard(locks.mutex);
    if (::mlock(address, length) != 0) {
        write_warning("mlock(" + bytes_count(length) + ") failed: " + os_error_text(errno) +
                      " — secrets may be swapped to disk");
        return false;
    }
    locks.counts.add(reinterpret_cast<std::uintptr_t>(address), length);
    return true;
}

void unlock_memory(const void* address, std::size_t length) {
    if (length == 0) return;
    ProcessPageLocks& locks = process_page_locks();
    const auto start = reinterpret_cast<std::uintptr_t>(address);
    {
        const std::lock_guard guard(locks.mutex);
        for (const PageRun& run : locks.counts.remove(start, length)) {
            if (::munlock(reinterpret_cast<const void*>(run.first),
                          run.count * locks.counts.page_size()) != 0) {
                write_warning("munlock(" + bytes_count(length) +
                              ") failed: " + os_error_text(errno));
            }
        }
    }
    advise_free(start, length, locks.counts.page_size());
}

}  // namespace quillbox
