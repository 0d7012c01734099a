#pragma once

#include <filesystem>
#include <span>

#include "core/result.hpp"

namespace quillbox {

// Replaces `target` in one step: the bytes go to "<name>.tmp.<pid>" next to it
// (created exclusively, never through a symbolic link, with mode 0600), are
// flushed to stable storage, and the temporary file is renamed over the
// target, whose directory is then flushed too. A reader sees the whole old
// file or the whole new one. The target's directory must exist. On failure the
// target is untouched and the temporary file removed; errors name the file they
// concern. A leftover of an earlier write by a process with our ID, killed
// before it could clean up, is removed first; one that cannot be removed (a
// directory) fails the write.
Status write_atomically(const std::filesystem::path& target, std::span<const unsigned char> bytes);

// Removes what writers of `target` that were killed left behind: the
// temporary files of that name whose process no longer exists. Files of
// live processes stay, and nothing is reported. A save calls it while it
// holds the vault's exclusive lock.
void remove_dead_writers_temporaries(const std::filesystem::path& target);

}  // namespace quillbox
