#include "spawn/output_capture.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/internal_error.hpp"

namespace quillbox {
namespace {

constexpr std::size_t kChunkSize = 65536;
constexpr std::uint64_t kLargestReservation = 64 * 1024 * 1024;

// Room for the stream up to its limit (or a large part of it) is reserved when
// the first data comes: pages are only backed once written, and the buffer
// need not move and be copied as it fills. Where even the reservation is
// refused, the buffer grows as it goes instead.
void reserve_room(std::string& bytes, std::uint64_t limit) {
    try {
        bytes.reserve(static_cast<std::size_t>(std::min(limit, kLargestReservation)));
    } catch (const std::bad_alloc&) {
    }
}

// Keeps what fits under the limit. False once the stream has gone beyond it:
// exactly `limit` bytes is not an overrun, the first byte more is.
bool keep_within_limit(CaptureState& state, std::uint64_t limit, std::string_view chunk) {
    const std::lock_guard lock(state.mutex);
    if (state.bytes.empty()) reserve_room(state.bytes, limit);
    const std::uint64_t held = state.bytes.size();
    const std::uint64_t room = held >= limit ? 0 : limit - held;
    state.bytes.append(
        chunk.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(room, chunk.size()))));
    if (room >= chunk.size()) return true;
    state.limit_exceeded = true;
    return false;
}

enum class Readiness { Data, Stop, Failed };

// Blocks until the pipe has something to say (data, end of file, an error) or
// the reader is told to stop.
Readiness wait_readable(int source, const WakeEvent& stop) {
    std::array<pollfd, 2> watched = {pollfd{source, POLLIN, 0}, pollfd{stop.fd(), POLLIN, 0}};
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return Readiness::Failed;
        }
        if (watched[1].revents != 0) return Readiness::Stop;
        if (watched[0].revents != 0) return Readiness::Data;
    }
}

// Told to stop, the reader still takes what the pipe holds at this moment, but
// nothing that a writer adds afterwards.
void take_pending(int source, std::uint64_t limit, CaptureState& state, std::vector<char>& buffer) {
    int pending = 0;
    if (::ioctl(source, FIONREAD, &pending) != 0) return;
    while (pending > 0) {
        const auto wanted = std::min(static_cast<std::size_t>(pending), buffer.size());
        const ssize_t got = ::read(source, buffer.data(), wanted);
        if (got <= 0) return;
        pending -= static_cast<int>(got);
        if (!keep_within_limit(state, limit, {buffer.data(), static_cast<std::size_t>(got)}))
            return;
    }
}

void read_stream(int source, std::uint64_t limit, CaptureState& state, const WakeEvent& stop) {
    std::vector<char> buffer(kChunkSize);
    for (;;) {
        const Readiness readiness = wait_readable(source, stop);
        if (readiness == Readiness::Stop) {
            take_pending(source, limit, state, buffer);
            const std::lock_guard lock(state.mutex);
            state.stopped = true;
            return;
        }
        if (readiness == Readiness::Failed) return;
        // A failed read ends the capture of this stream; it is not retried.
        const ssize_t got = ::read(source, buffer.data(), buffer.size());
        if (got <= 0) return;
        if (!keep_within_limit(state, limit, {buffer.data(), static_cast<std::size_t>(got)}))
            return;
    }
}

}  // namespace

StreamReader::StreamReader(UniqueFd source, std::uint64_t limit, const WakeEvent& stop,
                           const WakeEvent& finished)
    : stop_(stop) {
    auto body = [this, source = std::move(source), limit, &stop, &finished]() mutable {
        try {
            read_stream(source.get(), limit, state_, stop);
        } catch (const std::bad_alloc&) {
            // Out of memory for the captured bytes: end like a failed read,
            // keeping what was captured.
        }
        // Closing early makes the child's further writes to this stream fail.
        source.reset();
        {
            const std::lock_guard lock(state_.mutex);
            state_.finished = true;
        }
        finished.notify();
    };
    try {
        thread_ = std::thread(std::move(body));
    } catch (const std::system_error&) {
        throw InternalError("failed to spawn thread", "src/spawn");
    }
}

StreamReader::~StreamReader() {
    if (!thread_.joinable()) return;
    stop_.notify();
    thread_.join();
}

bool StreamReader::limit_exceeded() const {
    const std::lock_guard lock(state_.mutex);
    return state_.limit_exceeded;
}

bool StreamReader::finished() const {
    const std::lock_guard lock(state_.mutex);
    return state_.finished;
}

bool StreamReader::cut_short() const {
    const std::lock_guard lock(state_.mutex);
    return state_.limit_exceeded || state_.stopped;
}

std::string StreamReader::take_bytes() {
    if (thread_.joinable()) thread_.join();
    return std::move(state_.bytes);
}

}  // namespace quillbox
