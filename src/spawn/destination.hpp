#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string_view>

namespace quillbox {

// A descriptor of the caller's that a stream is passed on to. No flag of it is
// changed, and a write never waits for room, so that whoever writes can wait
// for room and for a reason to stop at once:
//   - a regular file or a block device takes each write whole (there is no
//     room to wait for; poll always finds it ready);
//   - a pipe, a socket, or a device that allows it, takes as much as it has
//     room for in one write that does not wait (RWF_NOWAIT);
//   - any other, a terminal among them (or a pipe, on a kernel without such
//     writes), takes a piece of at most PIPE_BUF bytes once poll finds room,
//     which a pipe takes without blocking.
class Destination {
public:
    explicit Destination(int fd);

    int fd() const { return fd_; }

    // Writes the start of `bytes` that the destination takes now: how many
    // bytes that is, 0 when it has no room, nothing when it refuses the write
    // (a reader gone, a failing device).
    std::optional<std::size_t> write_what_fits(std::string_view bytes);

private:
    enum class Kind { TakesAll, TakesWhatFits, TakesPieces };

    // One write as the kind allows, -1 with errno EAGAIN where there is no room.
    ssize_t write_once(std::string_view bytes);
    ssize_t write_piece(std::string_view bytes) const;

    int fd_;
    Kind kind_;
};

}  // namespace quillbox
