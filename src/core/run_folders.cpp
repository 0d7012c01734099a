#include "core/run_folders.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "core/folder_entries.hpp"
#include "core/unique_fd.hpp"
#include "core/wiping_removal.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kPrefix = "quillbox-";
constexpr std::string_view kRandomPart = "XXXXXX";

bool process_is_gone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool is_own_folder(int base_fd, const std::string& name) {
    struct stat status{};
    return ::fstatat(base_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
}

}  // namespace

std::string run_folder_template(pid_t pid) {
    return std::string(kPrefix) + std::to_string(pid) + "-" + std::string(kRandomPart);
}

std::optional<pid_t> run_folder_pid(std::string_view name) {
    if (!name.starts_with(kPrefix)) return std::nullopt;
    name.remove_prefix(kPrefix.size());
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
    const std::string_view rest(end, static_cast<std::size_t>(name.data() + name.size() - end));
    if (error != std::errc{} || pid <= 0 || end == name.data() ||
        rest.size() != 1 + kRandomPart.size() || rest.front() != '-') {
        return std::nullopt;
    }
    return pid;
}

void sweep_stale_run_folders(int base_fd) {
    for (const std::string& name : folder_entries(base_fd)) {
        const std::optional<pid_t> pid = run_folder_pid(name);
        if (!pid || !process_is_gone(*pid) || !is_own_folder(base_fd, name)) continue;
        // A live run holds its folder's lock; so does a sweep at work on it.
        const UniqueFd folder(
            ::openat(base_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder.valid() || ::flock(folder.get(), LOCK_EX | LOCK_NB) != 0) continue;
        remove_wiping(base_fd, name);
    }
}

}  // namespace quillbox
