#pragma once

#include <filesystem>
#include <string_view>

namespace quillbox {

// The path of a helper file that sits next to `target` (its lockfile, its
// temporary file): the target's final file name, made UTF-8 with every invalid
// sequence replaced by U+FFFD, followed by `suffix`, in the target's directory.
// A target without a final file name (empty, a root, or ending in "..") gets
// "vault" followed by the suffix, appended to it.
std::filesystem::path sibling_path(const std::filesystem::path& target, std::string_view suffix);

}  // namespace quillbox
