#include "spawn/live_output.hpp"

#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "spawn/broken_pipe_signal.hpp"

namespace quillbox {
namespace {

// A destination that polls writable takes this much without blocking when it
// is a pipe, which is what lets a waiting write be given up.
constexpr std::size_t kPieceSize = PIPE_BUF;

enum class Room { Ready, GivenUp };

// Writes all of `bytes`, each piece once `wait_for_room` has found room for
// it. False when the destination refuses a write or the wait is given up.
template <typename WaitForRoom>
bool write_all(int destination, std::string_view bytes, WaitForRoom&& wait_for_room) {
    const BrokenPipeSignalHeld broken_pipe_fails_the_write;
    while (!bytes.empty()) {
        if (wait_for_room() == Room::GivenUp) return false;
        const ssize_t written =
            ::write(destination, bytes.data(), std::min(bytes.size(), kPieceSize));
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

bool LiveOutput::pass_settled(SecretBytes& pending, const WakeEvent& stop) {
    if (refused_) return false;
    const std::size_t settled = redactor_.redact_settled(pending.view(), redacted_);
    pending.drop_front(settled);
    // Room, or else the stop; once stopped, the destination still gets what
    // it has room for.
    const auto room_or_stop = [&] {
        return await_descriptor(destination_, POLLOUT, stop, WhenBoth::Proceed) == Awaited::Ready
                   ? Room::Ready
                   : Room::GivenUp;
    };
    refused_ = !write_all(destination_, redacted_.view(), room_or_stop);
    redacted_.resize(0);
    return !refused_;
}

void LiveOutput::pass_rest(SecretBytes& pending, TextEnd end, Deadline deadline, Clock& clock,
                           RedactionWatch& watch) {
    if (!refused_) {
        redactor_.redact_ended(pending.view(), end, redacted_, watch);
        const auto room_until_deadline = [&] {
            pollfd watched{destination_, POLLOUT, 0};
            for (;;) {
                clock.wait_until(deadline, {&watched, 1});
                if (watched.revents != 0) return Room::Ready;
                if (has_passed(deadline, clock)) return Room::GivenUp;
            }
        };
        refused_ = !write_all(destination_, redacted_.view(), room_until_deadline);
    }
    redacted_.wipe();
    pending.wipe();
}

}  // namespace quillbox
