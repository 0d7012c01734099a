#pragma once

#include <string>

namespace quillbox {

// Overwrites the whole of the file open for writing on `fd` with zeros, so
// that the memory that held it holds nothing once it is gone. Returns 0, or
// the error number of the step that failed.
int overwrite_with_zeros(int fd);

// Removes the entry `name` of the folder open on `parent_fd`, and, for a
// folder, everything beneath it: each regular file is overwritten with zeros
// first (made writable to its owner for that), unless it has other names,
// whose contents it is; links and other entries are just unlinked. It goes on past a step that
// fails, and returns the error number of the first, or 0 when all is gone (an entry already gone
// included).
int remove_wiping(int parent_fd, const std::string& name);

}  // namespace quillbox
