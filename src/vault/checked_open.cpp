#include "vault/checked_open.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/message_format.hpp"
#include "vault/file_io.hpp"

namespace quillbox {
namespace {

std::string_view advice_for(FileRole role) {
    if (role == FileRole::ImportFile) return " — an import reads only a regular file";
    return " — the vault store uses only regular files owned by you (a lockfile may be root's); "
           "remove it if you did not make it";
}

bool may_own(FileRole role, uid_t owner) {
    switch (role) {
        case FileRole::VaultFile: return owner == ::geteuid();
        case FileRole::Lockfile: return owner == ::geteuid() || owner == 0;
        case FileRole::ImportFile: return true;
    }
    return false;
}

std::string_view kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::unexpected<CoreError> unsafe(const std::filesystem::path& path, FileRole role,
                                  std::string problem) {
    return fail(errors::UnsafePath{path, problem.append(advice_for(role))});
}

std::unexpected<CoreError> failed_to_open(const std::filesystem::path& path, CoreError error) {
    return fail(std::move(error).in_circumstance("opening " + quoted_path(path)));
}

}  // namespace

Result<CheckedFile> open_checked_file(const std::filesystem::path& path, int flags, mode_t mode,
                                      FileRole role) {
    Result<UniqueFd> fd = open_file(path, flags | O_NONBLOCK, mode);
    if (!fd) {
        if ((flags & O_NOFOLLOW) != 0 && fd.error().is_os_error({ELOOP})) {
            return unsafe(path, role, "is a symbolic link");
        }
        return failed_to_open(path, std::move(fd.error()));
    }
    struct stat metadata{};
    if (::fstat(fd->get(), &metadata) != 0) return failed_to_open(path, CoreError::from_errno());
    if (!S_ISREG(metadata.st_mode)) {
        return unsafe(path, role, "is " + std::string(kind_of(metadata.st_mode)));
    }
    if (!may_own(role, metadata.st_uid)) {
        return unsafe(path, role,
                      "is owned by another user (uid " + std::to_string(metadata.st_uid) + ")");
    }
    const int status = ::fcntl(fd->get(), F_GETFL);
    if (status < 0 || ::fcntl(fd->get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        return failed_to_open(path, CoreError::from_errno());
    }
    return CheckedFile{std::move(*fd), metadata, path};
}

}  // namespace quillbox
