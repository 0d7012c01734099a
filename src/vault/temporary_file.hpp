#pragma once

#include <filesystem>
#include <span>
#include <utility>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// The temporary file of one atomic write, removed again unless it was renamed
// over its target.
class TemporaryFile {
public:
    // Makes a new file at `path`, mode 0600. Whatever is at `path` already,
    // even a dangling symbolic link, fails it (EEXIST): the name sits in the
    // vault's directory, where it may have been put by someone else between
    // the removal of a leftover and this call, and the file it would lead to
    // is never written.
    static Result<TemporaryFile> create(std::filesystem::path path);

    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    ~TemporaryFile();

    // Writes all of `bytes` and flushes them to stable storage.
    Status write_and_sync(std::span<const unsigned char> bytes);

    // Renames the file over `target`, then flushes the directory as far as it
    // can: the target is replaced by then, and a failure there must not say
    // otherwise.
    Status rename_over(const std::filesystem::path& target);

private:
    TemporaryFile(std::filesystem::path path, UniqueFd fd)
        : path_(std::move(path)), fd_(std::move(fd)) {}

    std::filesystem::path path_;
    UniqueFd fd_;
    bool in_place_ = false;
};

}  // namespace quillbox
