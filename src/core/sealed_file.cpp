#include "core/sealed_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "core/message_format.hpp"
#include "core/warnings.hpp"

namespace quillbox {
namespace {

constexpr int kSeals = F_SEAL_SEAL | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;
// Above standard input, output and error, which a spawn may replace.
constexpr int kLowestNumber = 3;

Result<SealedFile> os_failure() {
    return fail(errors::OsError{errno});
}

bool write_whole(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A read-only shared view of the file, locked into memory so that its pages
// are never written to swap; a refusal is a warning, and the file goes on
// unlocked.
void* locked_view_of(int fd, std::size_t length) {
    if (length == 0) return nullptr;
    void* view = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        write_warning("mmap of an in-memory file failed: " + os_error_text(errno) +
                      " — secrets may be swapped to disk");
        return nullptr;
    }
    if (::mlock(view, length) != 0) {
        write_warning("mlock(" + std::to_string(length) + " bytes) failed: " +
                      os_error_text(errno) + " — secrets may be swapped to disk");
        ::munmap(view, length);
        return nullptr;
    }
    return view;
}

}  // namespace

Result<SealedFile> SealedFile::holding(std::string_view contents) {
    UniqueFd fd(::memfd_create("quillbox-secret", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd.valid()) return os_failure();
    if (fd.get() < kLowestNumber) {
        UniqueFd moved(::fcntl(fd.get(), F_DUPFD_CLOEXEC, kLowestNumber));
        if (!moved.valid()) return os_failure();
        fd = std::move(moved);
    }
    // Readable by its owner alone, as programs that take a key file insist.
    if (::fchmod(fd.get(), S_IRUSR) != 0) return os_failure();
    if (!write_whole(fd.get(), contents)) return os_failure();
    if (::fcntl(fd.get(), F_ADD_SEALS, kSeals) != 0) return os_failure();
    // A child that reads the inherited descriptor itself, rather than opening
    // its path, starts at the beginning.
    if (::lseek(fd.get(), 0, SEEK_SET) != 0) return os_failure();
    void* view = locked_view_of(fd.get(), contents.size());
    return SealedFile(std::move(fd), view, contents.size());
}

SealedFile::~SealedFile() {
    if (locked_view_ != nullptr) ::munmap(locked_view_, length_);
}

SealedFile::SealedFile(SealedFile&& other) noexcept
    : fd_(std::move(other.fd_)),
      locked_view_(std::exchange(other.locked_view_, nullptr)),
      length_(std::exchange(other.length_, 0)) {}

SealedFile& SealedFile::operator=(SealedFile&& other) noexcept {
    if (this != &other) {
        if (locked_view_ != nullptr) ::munmap(locked_view_, length_);
        fd_ = std::move(other.fd_);
        locked_view_ = std::exchange(other.locked_view_, nullptr);
        length_ = std::exchange(other.length_, 0);
    }
    return *this;
}

std::string SealedFile::path() const {
    return "/dev/fd/" + std::to_string(fd_.get());
}

}  // namespace quillbox
