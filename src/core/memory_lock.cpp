#include "core/memory_lock.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "core/lock_refusals.hpp"
#include "core/message_format.hpp"
#include "core/page_advice.hpp"
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

}  // namespace

bool lock_memory(const void* address, std::size_t length) {
    if (length == 0) return true;
    ProcessPageLocks& locks = process_page_locks();
    const std::lock_guard guard(locks.mutex);
    if (::mlock(address, length) != 0) {
        report_lock_refusal(length, errno);
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
    advise_whole_pages(address, length, PageAdvice::ReclaimWhenNeeded);
}

}  // namespace quillbox
