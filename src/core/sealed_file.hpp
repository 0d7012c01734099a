#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// A file in memory that holds one secret, readable by its owner alone and
// sealed so that nobody can change, grow or shrink it. Its descriptor is
// close-on-exec and numbered above the standard streams: a child gets it only
// where its spawn names it, and as nothing else. While it lives, its pages are
// locked into memory where the system allows. Closing it leaves the file to
// whoever inherited it.
class SealedFile {
public:
    // An operating-system error where the file cannot be made, filled or
    // sealed.
    static Result<SealedFile> holding(std::string_view contents);

    ~SealedFile();
    SealedFile(SealedFile&& other) noexcept;
    SealedFile& operator=(SealedFile&& other) noexcept;
    SealedFile(const SealedFile&) = delete;
    SealedFile& operator=(const SealedFile&) = delete;

    int fd() const { return fd_.get(); }
    // The path by which a process that holds the descriptor opens the file.
    std::string path() const;

private:
    SealedFile(UniqueFd fd, void* locked_view, std::size_t length)
        : fd_(std::move(fd)), locked_view_(locked_view), length_(length) {}

    UniqueFd fd_;
    // A read-only view of the pages, mapped only to keep them locked.
    void* locked_view_;
    std::size_t length_;
};

}  // namespace quillbox
