#include "vault/temporary_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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
    return TemporaryFile(std::move(path), std::move(*fd));
}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::move(other.fd_)), in_place_(other.in_place_) {
    other.in_place_ = true;
}

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

}  // namespace quillbox
