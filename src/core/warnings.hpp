#pragma once

#include <string_view>

namespace quillbox {

// Writes one line to standard error: "[quillbox] WARNING: " + message. Used for
// refusals by the operating system that do not stop the operation at hand.
void write_warning(std::string_view message);

// Writes one line, as given, to standard error.
void write_stderr_line(std::string_view line);

}  // namespace quillbox
