#pragma once

#include <cstddef>

namespace quillbox {

// A read-only view of a file's first `length` bytes, mapped only to keep
// their pages locked into memory, so that a file system that may swap
// (tmpfs) never writes them to disk. A refusal to map is a warning, one to
// lock is reported (lock_refusals.hpp), and the file goes on unlocked. The view goes, and the lock
// with it, when its owner does.
class LockedFileView {
public:
    LockedFileView() = default;
    static LockedFileView of(int fd, std::size_t length);

    ~LockedFileView();
    LockedFileView(LockedFileView&& other) noexcept;
    LockedFileView& operator=(LockedFileView&& other) noexcept;
    LockedFileView(const LockedFileView&) = delete;
    LockedFileView& operator=(const LockedFileView&) = delete;

private:
    LockedFileView(void* address, std::size_t length) : address_(address), length_(length) {}
    void release();

    void* address_ = nullptr;
    std::size_t length_ = 0;
};

}  // namespace quillbox
