#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// What the store opens a file as; it decides who may own the file and what a
// refusal advises.
enum class FileRole {
    // The vault file or one of its temporary files: owned by the effective user.
    VaultFile,
    // Owned by the effective user or by root, who may have made it.
    Lockfile,
    // Owned by anyone: an export is made to be handed on.
    ImportFile,
};

struct CheckedFile {
    UniqueFd fd;
    // As fstat found it on the descriptor.
    struct stat metadata;
    // As the caller named it.
    std::filesystem::path path;
};

// Opens `path` like open_file, with O_NONBLOCK added so that a FIFO or a
// device cannot block the open, and keeps it only when the descriptor (not the
// path, which may change meanwhile) is a regular file with an owner that the
// role allows: anything else is UnsafePath naming the path. With O_NOFOLLOW
// in `flags`, a symbolic link is UnsafePath too; without it, a link is
// followed and its target checked. O_NONBLOCK is cleared before returning, so
// that reads and writes behave as usual. An operating-system error names the
// path in its circumstance.
Result<CheckedFile> open_checked_file(const std::filesystem::path& path, int flags, mode_t mode,
                                      FileRole role);

}  // namespace quillbox
