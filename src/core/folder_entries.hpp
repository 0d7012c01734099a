#pragma once

#include <string>
#include <vector>

namespace quillbox {

// The names in the folder open on `folder_fd`, but "." and "..", in the
// order the file system lists them; none where it cannot be read.
std::vector<std::string> folder_entries(int folder_fd);

}  // namespace quillbox
