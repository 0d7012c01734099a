#include "spawn/wake_event.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace quillbox {

Result<WakeEvent> WakeEvent::create() {
    // Both ends non-blocking: a full pipe already means "raised", and clearing
    // stops at empty instead of waiting.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return fail(CoreError::from_errno());
    return WakeEvent(UniqueFd(ends[0]), UniqueFd(ends[1]));
}

void WakeEvent::notify() const {
    const char byte = 1;
    ssize_t written;
    do {
        written = ::write(write_end_.get(), &byte, 1);
    } while (written < 0 && errno == EINTR);
}

void WakeEvent::clear() const {
    char sink[64];
    for (;;) {
        const ssize_t got = ::read(read_end_.get(), sink, sizeof sink);
        if (got > 0) continue;
        if (got < 0 && errno == EINTR) continue;
        return;
    }
}

Awaited await_descriptor(int fd, short events, const WakeEvent& stop, WhenBoth when_both) {
    std::array<pollfd, 2> watched = {pollfd{fd, events, 0}, pollfd{stop.fd(), POLLIN, 0}};
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return Awaited::Failed;
        }
        const bool ready = watched[0].revents != 0;
        const bool stopped = watched[1].revents != 0;
        if (stopped && (!ready || when_both == WhenBoth::Stop)) return Awaited::Stopped;
        if (ready) return Awaited::Ready;
    }
}

}  // namespace quillbox
