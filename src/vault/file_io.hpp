#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <span>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// Thin wrappers around the file system calls of the vault store: every path is
// checked for an embedded NUL first (the Io error "file name contained an
// unexpected NUL byte"), interrupted calls are repeated, and failures come back
// as Io errors carrying the system's error number.

// Opens `path` with `flags` plus close-on-exec; `mode` applies when creating.
Result<UniqueFd> open_file(const std::filesystem::path& path, int flags, mode_t mode = 0);

// The metadata of `path`, following symbolic links.
Result<struct stat> stat_path(const std::filesystem::path& path);

// All of `bytes`; a write that takes nothing is the Io error "failed to write
// whole buffer".
Status write_all(int fd, std::span<const unsigned char> bytes);

Status check_no_nul(const std::filesystem::path& path);

// Creates the missing directories on the way to `path`, each private to the
// owner (0700). Directories that exist keep their modes.
Status create_missing_parent_directory(const std::filesystem::path& path);

}  // namespace quillbox
