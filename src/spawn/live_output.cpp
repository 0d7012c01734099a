#include "spawn/live_output.hpp"

#include <poll.h>

#include <string_view>

#include "spawn/broken_pipe_signal.hpp"

namespace quillbox {
namespace {

enum class Room { Ready, GivenUp };

// Writes all of `bytes`, as much at a time as the destination takes. What it
// did not take waits for room with `wait_for_room`: it has none left. False
// when the destination refuses a write or the wait is given up.
template <typename WaitForRoom>
bool write_all(Destination& destination, std::string_view bytes, WaitForRoom&& wait_for_room) {
    while (!bytes.empty()) {
        const std::optional<std::size_t> written = destination.write_what_fits(bytes);
        if (!written) return false;
        bytes.remove_prefix(*written);
        if (!bytes.empty() && wait_for_room() == Room::GivenUp) return false;
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
        return await_descriptor(destination_.fd(), POLLOUT, stop, WhenBoth::Proceed) ==
                       Awaited::Ready
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
        const BrokenPipeSignalHeld broken_pipe_fails_the_write;
        redactor_.redact_ended(pending.view(), end, redacted_, watch);
        const auto room_until_deadline = [&] {
            pollfd watched{destination_.fd(), POLLOUT, 0};
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
