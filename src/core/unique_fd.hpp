#pragma once

#include <unistd.h>

#include <utility>

namespace quillbox {

// Sole owner of a file descriptor: closes it when dropped. -1 means "none".
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }

    // Closes the descriptor held now (its close result is of no use to anyone
    // here: the descriptor is gone either way) and takes `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

}  // namespace quillbox
