#include "vault/temporary_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "vault/checked_open.hpp"
#include "vault/file_io.hpp"

namespace quillbox {
namespace {

// A full flush to stable storage: where the system offers a stronger call than
// fsync (one that also empties the drive's cache), that one.
Status sync_to_storage(int fd) {
    for (;;) {
#ifdef F_FULLFSYNC
        const int result = ::fcntl(fd, F_FULLFSYNC);
#else
        const int result = ::fsync(fd);
#endif
        if (result == 0) return {};
        if (errno != EINTR) return fail(CoreError::from_errno());
    }
}

// The rename reaches stable storage with its directory.
void sync_directory_of(const std::filesystem::path& target) {
    const std::filesystem::path directory =
        target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    if (Result<UniqueFd> fd = open_file(directory, O_RDONLY | O_DIRECTORY)) {
        (void)sync_to_storage(fd->get());
    }
}

}  // namespace

Result<TemporaryFile> TemporaryFile::create(std::filesystem::path path) {
    Result<UniqueFd> fd = open_file(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (!fd) return fail(fd.error());
    TemporaryFile file(std::move(path), std::move(*fd));
    // A sweep takes the lock of a file it found unheld only to remove it; one
    // that came between the creation and this call has made the file
    // useless, and the failure removes it.
    if (::flock(file.fd_.get(), LOCK_EX | LOCK_NB) != 0) return fail(CoreError::from_errno());
    return file;
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), in_place_(other.in_place_) {
    other.in_place_ = true;
}

// The file is removed while its lock is still held, so that no sweep can
// take it for a leftover in between.
TemporaryFile::~TemporaryFile() {
    if (!in_place_) ::unlink(path_.c_str());
}

Status TemporaryFile::write_and_sync(std::span<const unsigned char> bytes) {
    if (Status written = write_all(fd_.get(), bytes); !written) return written;
    return sync_to_storage(fd_.get());
}

Status TemporaryFile::rename_over(const std::filesystem::path& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) return fail(CoreError::from_errno());
    in_place_ = true;
    sync_directory_of(target);
    return {};
}

Status TemporaryFile::rename_to_new(const std::filesystem::path& target) {
    if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL) return fail(CoreError::from_errno());
        // The file system cannot rename without replacing; a new link to the
        // file fails the same way on a name that is taken. The temporary
        // name goes when this file does.
        if (::link(path_.c_str(), target.c_str()) != 0) return fail(CoreError::from_errno());
    } else {
        in_place_ = true;
    }
    sync_directory_of(target);
    return {};
}

void remove_if_abandoned(const std::filesystem::path& path) {
    const Result<CheckedFile> file =
        open_checked_file(path, O_RDONLY | O_NOFOLLOW, 0, FileRole::VaultFile);
    if (!file || ::flock(file->fd.get(), LOCK_EX | LOCK_NB) != 0) return;
    // Only the file that was locked goes, not one put at its name meanwhile.
    struct stat now{};
    if (::lstat(path.c_str(), &now) != 0 || now.st_dev != file->metadata.st_dev ||
        now.st_ino != file->metadata.st_ino) {
        return;
    }
    ::unlink(path.c_str());
}

}  // namespace quillbox
