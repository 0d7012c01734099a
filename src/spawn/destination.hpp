#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string_view>

#include "core/unique_fd.hpp"

namespace quillbox {

// A descriptor of the caller's that a stream is passed on to. No flag of it is
// changed, and a write never waits for room, so that whoever writes can wait
// for room and for a reason to stop at once:
//   - a regular file or a block device takes each write whole (there is no
//     room to wait for; poll always finds it ready);
//   - a pipe, a socket, or a device that allows it, takes as much as it has
//     room for in one write that does not wait (RWF_NOWAIT);
//   - a terminal, which has no such writes, is written through a description
//     of it of our own that does not block, opened again by its path;
//   - any other (a terminal that does not open again, the controlling side
//     of a pseudo-terminal, which opened again would be a new one; a pipe, on
//     a kernel without writes that do not wait) takes a piece of at most
//     PIPE_BUF bytes once poll finds room. A pipe takes that without
//     blocking; a device whose room is less may block until it has more.
class Destination {
public:
    explicit Destination(int fd);

    int fd() const { return fd_; }

    // Writes the start of `bytes` that the destination takes now: how many
    // bytes that is, 0 when it has no room, nothing when it refuses the write
    // (a reader gone, a failing device).
    std::optional<std::size_t> write_what_fits(std::string_view bytes);

private:
    enum class Kind { TakesAll, TakesWhatFits, OwnDescription, TakesPieces };

    // One write as the kind allows, -1 with errno EAGAIN where there is no room.
    ssize_t write_once(std::string_view bytes);
    ssize_t write_piece(std::string_view bytes) const;

    int fd_;
    Kind kind_;
    // The description of our own, non-blocking, of a terminal.
    UniqueFd own_;
};

}  // namespace quillbox
