#include "core/memory_base.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

#include "core/message_format.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {
namespace {

std::string octal_mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// What makes `path` unfit to hold secret files, or nothing when it is a
// folder on a file system that lives in memory alone (and, where asked, is
// this user's own with mode 0700).
std::optional<std::string> problem_of(const std::filesystem::path& path, bool private_to_user) {
    const std::string shown = quoted_path(path);
    const UniqueFd folder(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status{};
    struct statfs system{};
    if (!folder.valid() || ::fstat(folder.get(), &status) != 0 ||
        ::fstatfs(folder.get(), &system) != 0) {
        return shown + " cannot be opened as a folder: " + os_error_text(errno);
    }
    if (system.f_type != TMPFS_MAGIC && system.f_type != RAMFS_MAGIC) {
        return shown + " is not on tmpfs or ramfs";
    }
    if (!private_to_user) return std::nullopt;
    if (status.st_uid != ::geteuid()) {
        return shown + " is owned by user " + std::to_string(status.st_uid) + ", not by user " +
               std::to_string(::geteuid());
    }
    if ((status.st_mode & 07777) != 0700) {
        return shown + " has mode " + octal_mode(status.st_mode) + ", not 0700";
    }
    return std::nullopt;
}

std::optional<std::string> runtime_dir_problem(const char* runtime_dir) {
    if (runtime_dir == nullptr || *runtime_dir == 0) return "XDG_RUNTIME_DIR is not set";
    const std::filesystem::path path(runtime_dir);
    if (!path.is_absolute()) {
        return "XDG_RUNTIME_DIR " + quoted_path(path) + " is not an absolute path";
    }
    std::optional<std::string> problem = problem_of(path, true);
    if (problem) return "XDG_RUNTIME_DIR " + *problem;
    return std::nullopt;
}

}  // namespace

Result<std::filesystem::path> memory_base(const char* runtime_dir,
                                          const std::filesystem::path& shared_memory) {
    std::optional<std::string> runtime = runtime_dir_problem(runtime_dir);
    if (!runtime) return std::filesystem::path(runtime_dir);
    std::optional<std::string> shared = problem_of(shared_memory, false);
    if (!shared) return shared_memory;
    return fail(errors::NoMemoryFolder{std::move(*runtime), std::move(*shared)});
}

}  // namespace quillbox
