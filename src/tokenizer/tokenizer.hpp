#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace quillbox {

// Splits a command into argument words with shell-like quoting: blanks separate
// words; single quotes, double quotes and backslashes protect characters. No
// shell is involved and nothing is expanded, so every unquoted character that a
// shell would read as syntax (pipes, redirection, lists, globs, substitution)
// is refused rather than passed on as a literal.
//
// The command is UTF-8. On success there is at least one word (words may be
// empty, from '' or ""). On failure the error names the leftmost problem; every
// position it reports is a byte offset into the command.
Result<std::vector<std::string>> tokenize(std::string_view command);

}  // namespace quillbox
