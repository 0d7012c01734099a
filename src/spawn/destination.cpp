#include "spawn/destination.hpp"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace quillbox {
namespace {

bool takes_all(int fd) {
    struct stat status{};
    return ::fstat(fd, &status) == 0 && (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode));
}

// A kernel without writes that do not wait, or a kind of file without them.
bool no_write_without_waiting(int error) {
    return error == EOPNOTSUPP || error == EINVAL || error == ENOSYS;
}

// A description of our own of the terminal that `fd` is open on, whose writes
// do not block; none where `fd` is no terminal, or the controlling side of a
// pseudo-terminal (opening that again makes a new one), or where it does not
// open as the same device.
UniqueFd own_description_of_terminal(int fd) {
    unsigned int pseudo_terminal_number = 0;
    struct stat original{};
    if (::isatty(fd) == 0 || ::ioctl(fd, TIOCGPTN, &pseudo_terminal_number) == 0 ||
        ::fstat(fd, &original) != 0) {
        return {};
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    UniqueFd own(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat opened{};
    if (!own.valid() || ::fstat(own.get(), &opened) != 0 || opened.st_rdev != original.st_rdev) {
        return {};
    }
    return own;
}

}  // namespace

Destination::Destination(int fd)
    : fd_(fd), kind_(takes_all(fd) ? Kind::TakesAll : Kind::TakesWhatFits) {}

std::optional<std::size_t> Destination::write_what_fits(std::string_view bytes) {
    ssize_t written;
    do {
        written = write_once(bytes);
    } while (written < 0 && errno == EINTR);
    if (written > 0) return static_cast<std::size_t>(written);
    if (written < 0 && errno == EAGAIN) return 0;
    // Refused, or nothing taken without a reason given.
    return std::nullopt;
}

ssize_t Destination::write_once(std::string_view bytes) {
    if (kind_ == Kind::TakesAll) return ::write(fd_, bytes.data(), bytes.size());
    if (kind_ == Kind::TakesWhatFits) {
        iovec whole{const_cast<char*>(bytes.data()), bytes.size()};
        const ssize_t written = ::pwritev2(fd_, &whole, 1, -1, RWF_NOWAIT);
        if (written >= 0 || !no_write_without_waiting(errno)) return written;
        own_ = own_description_of_terminal(fd_);
        kind_ = own_.valid() ? Kind::OwnDescription : Kind::TakesPieces;
    }
    if (kind_ == Kind::OwnDescription) return ::write(own_.get(), bytes.data(), bytes.size());
    return write_piece(bytes);
}

ssize_t Destination::write_piece(std::string_view bytes) const {
    pollfd watched{fd_, POLLOUT, 0};
    const int ready = ::poll(&watched, 1, 0);
    if (ready <= 0) {
        if (ready == 0) errno = EAGAIN;
        return -1;
    }
    return ::write(fd_, bytes.data(), std::min<std::size_t>(bytes.size(), PIPE_BUF));
}

}  // namespace quillbox
