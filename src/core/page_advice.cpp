#include "core/page_advice.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "core/message_format.hpp"
#include "core/warnings.hpp"

namespace quillbox {
namespace {

struct PageRange {
    void* first;
    std::size_t length;
};

// The whole pages inside [address, address + length); empty where there are none.
PageRange whole_pages(const void* address, std::size_t length) {
    static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t last = (start + length) / page * page;
    if (last <= first) return {nullptr, 0};
    return {reinterpret_cast<void*>(first), last - first};
}

}  // namespace

void advise_whole_pages(const void* address, std::size_t length, PageAdvice advice) {
    const PageRange pages = whole_pages(address, length);
    if (pages.length == 0) return;
    const bool now = advice == PageAdvice::GiveBackNow;
    if (::madvise(pages.first, pages.length, now ? MADV_DONTNEED : MADV_FREE) != 0) {
        write_warning(std::string("madvise(") + (now ? "MADV_DONTNEED" : "MADV_FREE") + ", " +
                      std::to_string(length) + " bytes) failed: " + os_error_text(errno));
    }
}

void advise_huge_pages(const void* address, std::size_t length) {
    const PageRange pages = whole_pages(address, length);
    if (pages.length != 0) ::madvise(pages.first, pages.length, MADV_HUGEPAGE);
}

}  // namespace quillbox
