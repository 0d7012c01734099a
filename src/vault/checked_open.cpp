#include "vault/checked_open.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "vault/file_io.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kAdvice =
    " — the vault store uses only regular files owned by you (a lockfile may be root's); "
    "remove it if you did not make it";

std::string_view kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::unexpected<CoreError> unsafe(const std::filesystem::path& path, std::string problem) {
    return fail(errors::UnsafePath{path, problem.append(kAdvice)});
}

}  // namespace

Result<CheckedFile> open_checked_file(const std::filesystem::path& path, int flags, mode_t mode,
                                      RequiredOwner owner) {
    Result<UniqueFd> fd = open_file(path, flags | O_NONBLOCK, mode);
    if (!fd) {
        if ((flags & O_NOFOLLOW) != 0 && fd.error().is_os_error({ELOOP})) {
            return unsafe(path, "is a symbolic link");
        }
        return fail(fd.error());
    }
    struct stat metadata{};
    if (::fstat(fd->get(), &metadata) != 0) return fail(CoreError::from_errno());
    if (!S_ISREG(metadata.st_mode)) {
        return unsafe(path, "is " + std::string(kind_of(metadata.st_mode)));
    }
    const uid_t me = ::geteuid();
    if (metadata.st_uid != me && !(owner == RequiredOwner::MeOrRoot && metadata.st_uid == 0)) {
        return unsafe(path,
                      "is owned by another user (uid " + std::to_string(metadata.st_uid) + ")");
    }
    const int status = ::fcntl(fd->get(), F_GETFL);
    if (status < 0 || ::fcntl(fd->get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        return fail(CoreError::from_errno());
    }
    return CheckedFile{std::move(*fd), metadata};
}

}  // namespace quillbox
