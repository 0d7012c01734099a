#pragma once

#include <cstdlib>
#include <filesystem>

#include "core/result.hpp"

namespace quillbox {

// The folder in memory under which runs make the files that `{{file:KEY}}`
// names: `runtime_dir` ($XDG_RUNTIME_DIR) where it is an absolute path to a
// folder of this user's with mode 0700 on tmpfs or ramfs, else
// `shared_memory` where it is a folder on tmpfs or ramfs. Neither fails with
// NoMemoryFolder, which says why each is unfit: a file on a disk could
// outlive the run there, so there is no falling back to one.
Result<std::filesystem::path> memory_base(
    const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR"),
    const std::filesystem::path& shared_memory = "/dev/shm");

}  // namespace quillbox
