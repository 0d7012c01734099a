#pragma once

#include <cstddef>

namespace quillbox {

enum class PageAdvice {
    // The kernel may take the pages whenever it needs memory.
    ReclaimWhenNeeded,
    // The pages go at once; touched again, they read as zeros.
    GiveBackNow,
};

// Advises the kernel about the memory of [address, address + length), whose
// bytes are wiped and unlocked. A heap buffer shares its first and last page
// with other data, so only the whole pages inside the range are advised, and
// nothing when there are none. A refusal is a warning.
void advise_whole_pages(const void* address, std::size_t length, PageAdvice advice);

// Asks that the whole pages of [address, address + length) be backed by huge
// pages where the system makes them on request (MADV_HUGEPAGE): a buffer that
// is filled megabytes at a time then takes one fault for each 2 MiB instead of
// one for each 4 KiB. It only changes how fast the memory comes; a system
// without them refuses, silently.
void advise_huge_pages(const void* address, std::size_t length);

}  // namespace quillbox
