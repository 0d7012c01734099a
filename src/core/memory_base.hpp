#pragma once

#include <cstdlib>
#include <filesystem>

#include "core/result.hpp"

namespace quillbox {

// The folder in memory under which runs make the files that `{{file:KEY}}`
// names: `runtime_dir` ($XDG_RUNTIME_DIR) where it is an absolute path to a
// folder of this user's with mode 0700 on tmpfs or ramfs, else
// `shared_memory` where it is a folder on tmpfs or ramfs. Where neither is,
// it fails with NoMemoryFolder, which says why each is unfit: there is no
// falling back to a disk, where a file could outlive the run.
Result<std::filesystem::path> memory_base(const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR"),
                                          const std::filesystem::path& shared_memory = "/dev/shm");

}  // namespace quillbox
