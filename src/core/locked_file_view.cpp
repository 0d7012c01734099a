#include "core/locked_file_view.hpp"

#include <sys/mman.h>

#include <cerrno>
#include <string>
#include <utility>

#include "core/lock_refusals.hpp"
#include "core/message_format.hpp"
#include "core/warnings.hpp"

namespace quillbox {

LockedFileView LockedFileView::of(int fd, std::size_t length) {
    if (length == 0) return {};
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        write_warning("mmap of an in-memory file failed: " + os_error_text(errno) +
                      " — secrets may be swapped to disk");
        return {};
    }
    if (::mlock(address, length) != 0) {
        report_lock_refusal(length, errno);
        ::munmap(address, length);
        return {};
    }
    return LockedFileView(address, length);
}

LockedFileView::~LockedFileView() {
    release();
}

LockedFileView::LockedFileView(LockedFileView&& other) noexcept
    : address_(std::exchange(other.address_, nullptr)), length_(std::exchange(other.length_, 0)) {}

LockedFileView& LockedFileView::operator=(LockedFileView&& other) noexcept {
    if (this != &other) {
        release();
        address_ = std::exchange(other.address_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

void LockedFileView::release() {
    if (address_ != nullptr) ::munmap(address_, length_);
    address_ = nullptr;
}

}  // namespace quillbox
