#include "vault/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quillbox {

Status check_no_nul(const std::filesystem::path& path) {
    if (path.native().find('\0') != std::string::npos) {
        return fail(errors::IoMessage{"file name contained an unexpected NUL byte"});
    }
    return {};
}

Result<UniqueFd> open_file(const std::filesystem::path& path, int flags, mode_t mode) {
    if (Status checked = check_no_nul(path); !checked) return fail(checked.error());
    for (;;) {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EINTR) return fail(CoreError::from_errno());
    }
}

Result<struct stat> stat_path(const std::filesystem::path& path) {
    if (Status checked = check_no_nul(path); !checked) return fail(checked.error());
    struct stat metadata{};
    if (::stat(path.c_str(), &metadata) != 0) return fail(CoreError::from_errno());
    return metadata;
}

Status write_all(int fd, std::span<const unsigned char> bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0) {
            if (errno == EINTR) continue;
            return fail(CoreError::from_errno());
        }
        if (count == 0) return fail(errors::IoMessage{"failed to write whole buffer"});
        bytes = bytes.subspan(static_cast<std::size_t>(count));
    }
    return {};
}

Status create_missing_parent_directory(const std::filesystem::path& path) {
    if (Status checked = check_no_nul(path); !checked) return checked;
    std::filesystem::path directory;
    for (const std::filesystem::path& component : path.parent_path()) {
        directory /= component;
        if (::mkdir(directory.c_str(), 0700) == 0) {
            // The creation mask may have taken more away, never added.
            if (::chmod(directory.c_str(), 0700) != 0) return fail(CoreError::from_errno());
        } else if (errno != EEXIST) {
            return fail(CoreError::from_errno());
        }
    }
    return {};
}

}  // namespace quillbox
