#pragma once

#include <sys/types.h>

#include <string_view>

namespace quillbox {

// Writes all of `bytes` to `fd` from `offset` on, going on after short
// writes and interruptions. Returns 0, or the error number of the write that
// failed.
int write_whole_at(int fd, std::string_view bytes, off_t offset);

}  // namespace quillbox
