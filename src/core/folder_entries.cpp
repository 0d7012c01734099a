#include "core/folder_entries.hpp"

#include <dirent.h>
#include <fcntl.h>

#include <memory>
#include <string_view>

#include "core/unique_fd.hpp"

namespace quillbox {

std::vector<std::string> folder_entries(int folder_fd) {
    std::vector<std::string> names;
    // Opened anew, so that the listing has an offset of its own.
    UniqueFd listed(::openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listed.valid()) return names;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(listed.get()), ::closedir);
    if (listing == nullptr) return names;
    listed.release();  // the listing owns it now
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    return names;
}

}  // namespace quillbox
