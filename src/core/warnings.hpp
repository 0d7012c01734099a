#pragma once

#include <string_view>

namespace quillbox {

// Writes one line to standard error: "[quillbox] WARNING: " + message. Used for
// refusals by the operating system that do not stop the operation at hand.
void write_warning(std::string_view message);

}  // namespace quillbox
