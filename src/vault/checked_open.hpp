#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// Who may own a file that the vault store opens.
enum class RequiredOwner {
    // The effective user: the vault file itself.
    Me,
    // The effective user or root: the lockfile, which root may have made.
    MeOrRoot,
};

// Opens `path` like open_file, with O_NONBLOCK added so that a FIFO or a
// device cannot block the open, and keeps it only when the descriptor (not the
// path, which may change meanwhile) is a regular file with the required owner:
// anything else is UnsafePath naming the path. With O_NOFOLLOW in `flags`, a
// symbolic link is UnsafePath too. O_NONBLOCK is cleared before returning, so
// that reads and writes behave as usual.
struct CheckedFile {
    UniqueFd fd;
    // As fstat found it on the descriptor.
    struct stat metadata;
};
Result<CheckedFile> open_checked_file(const std::filesystem::path& path, int flags, mode_t mode,
                                      RequiredOwner owner);

}  // namespace quillbox
