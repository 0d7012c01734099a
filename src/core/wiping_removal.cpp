#include "core/wiping_removal.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "core/folder_entries.hpp"
#include "core/unique_fd.hpp"
#include "core/whole_write.hpp"

namespace quillbox {
namespace {

// Keeps the first error of several steps.
void note(int& first_error, int error) {
    if (first_error == 0) first_error = error;
}

int wipe_regular_file(int parent_fd, const std::string& name, const struct stat& status) {
    // A file that has other names too holds what those names hold: it only
    // loses this one.
    if (status.st_nlink > 1) return 0;
    // A file of the owner's that is read-only (as the run's files are) is made
    // writable to wipe it; it is removed next.
    if (::fchmodat(parent_fd, name.c_str(), S_IRUSR | S_IWUSR, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    const UniqueFd file(
        ::openat(parent_fd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) return errno;
    struct stat opened{};
    if (::fstat(file.get(), &opened) != 0) return errno;
    if (!S_ISREG(opened.st_mode)) return 0;
    return overwrite_with_zeros(file.get());
}

int remove_folder(int parent_fd, const std::string& name) {
    // Its owner may always empty it, whatever mode it was left with.
    int first_error = 0;
    if (::fchmodat(parent_fd, name.c_str(), S_IRWXU, AT_SYMLINK_NOFOLLOW) != 0) {
        note(first_error, errno);
    }
    const UniqueFd folder(
        ::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.valid()) note(first_error, errno);
    if (folder.valid()) {
        for (const std::string& entry : folder_entries(folder.get())) {
            note(first_error, remove_wiping(folder.get(), entry));
        }
    }
    if (::unlinkat(parent_fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
        note(first_error, errno);
    }
    return first_error;
}

}  // namespace

int overwrite_with_zeros(int fd) {
    struct stat status{};
    if (::fstat(fd, &status) != 0) return errno;
    static constexpr char kZeros[4096] = {};
    for (off_t offset = 0; offset < status.st_size;) {
        const auto chunk = static_cast<std::size_t>(
            std::min<off_t>(status.st_size - offset, static_cast<off_t>(sizeof kZeros)));
        if (const int error = write_whole_at(fd, std::string_view(kZeros, chunk), offset)) {
            return error;
        }
        offset += static_cast<off_t>(chunk);
    }
    return 0;
}

int remove_wiping(int parent_fd, const std::string& name) {
    struct stat status{};
    if (::fstatat(parent_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? 0 : errno;
    }
    if (S_ISDIR(status.st_mode)) return remove_folder(parent_fd, name);
    int first_error = S_ISREG(status.st_mode) ? wipe_regular_file(parent_fd, name, status) : 0;
    if (::unlinkat(parent_fd, name.c_str(), 0) != 0 && errno != ENOENT) note(first_error, errno);
    return first_error;
}

}  // namespace quillbox
