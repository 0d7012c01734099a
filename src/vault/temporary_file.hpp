#pragma once

#include <filesystem>
#include <span>
#include <utility>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// The temporary file of one atomic write, removed again unless it was renamed
// over its target. Its writer holds an exclusive flock on it from its creation
// until it is renamed or removed and the descriptor closed: a file of this kind
// that nobody holds locked is a leftover of a writer that was killed, whatever
// process ID its name carries, and the kernel drops a dead writer's lock.
class TemporaryFile {
public:
    // Makes a new file at `path`, mode 0600, and locks it. Whatever is at
    // `path` already, even a dangling symbolic link, fails it (EEXIST): the
    // name sits in the vault's directory, where someone else may have put
    // something, and the file it would lead to is never written.
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

    // The same where nothing is at `target`; something there, even a dangling
    // link, fails it with EEXIST and stays as it is. The check and the rename
    // are one step (RENAME_NOREPLACE, or a hard link where the file system
    // cannot rename so), so nothing made there meanwhile is replaced.
    Status rename_to_new(const std::filesystem::path& target);

private:
    TemporaryFile(std::filesystem::path path, UniqueFd fd)
        : path_(std::move(path)), fd_(std::move(fd)) {}

    std::filesystem::path path_;
    UniqueFd fd_;
    bool in_place_ = false;
};

// Removes the file at `path` if it is a leftover: a regular file of ours on
// which no writer holds its lock. A file that is held, or that cannot be
// opened and locked at once, stays. Nothing is reported.
void remove_if_abandoned(const std::filesystem::path& path);

}  // namespace quillbox
