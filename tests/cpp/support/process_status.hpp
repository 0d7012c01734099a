#pragma once

#include <cstddef>
#include <string_view>

namespace quillbox::testing {

// A memory figure of this process as the kernel counts it, in kibibytes:
// the field of /proc/self/status named `field` ("VmRSS", "VmLck"), or 0.
std::size_t process_status_kib(std::string_view field);

}  // namespace quillbox::testing
