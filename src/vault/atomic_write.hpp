#pragma once

#include <filesystem>
#include <span>

#include "core/result.hpp"

namespace quillbox {

// Replaces `target` in one step: the bytes go to "<name>.tmp.<pid>" next to it
// (created exclusively with mode 0600), are flushed to stable storage, and the
// temporary file is renamed over the target. A reader sees the whole old file
// or the whole new one. The target's directory must exist. On failure the
// target is untouched; a temporary file may stay behind, and the next write of
// the same target by a process with the same ID removes it first.
Status write_atomically(const std::filesystem::path& target, std::span<const unsigned char> bytes);

}  // namespace quillbox
