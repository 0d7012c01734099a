#pragma once

#include <filesystem>
#include <span>

#include "core/result.hpp"

namespace quillbox {

// Replaces `target` in one step: the bytes go to a temporary file next to it
// ("<name>.tmp.<pid>.<random hex>", see temporary_name.hpp; created
// exclusively, never through a symbolic link, with mode 0600, and locked by
// this writer), are flushed to stable storage, and the temporary file is
// renamed over the target, whose directory is then flushed too. A reader sees
// the whole old file or the whole new one. The target's directory must exist.
// On failure the target is untouched and the temporary file removed; errors
// name the file they concern.
//
// With `existing` Refused, a file already at `target` (or one put there while
// the bytes are written) is never replaced: the write fails with an I/O error
// that names it.
enum class ExistingTarget { Replaced, Refused };
Status write_atomically(const std::filesystem::path& target, std::span<const unsigned char> bytes,
                        ExistingTarget existing = ExistingTarget::Replaced);

// Removes what writers of `target` that were killed left behind: the temporary
// files of that name that no writer holds locked. Those of writers at work
// stay, whatever process ID their names carry, and nothing is reported. A save
// calls it while it holds the vault's exclusive lock, under which the vault's
// own writes are made.
void remove_abandoned_temporaries(const std::filesystem::path& target);

}  // namespace quillbox
