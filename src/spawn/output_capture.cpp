#include "spawn/output_capture.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <span>
#include <system_error>

#include "spawn/broken_pipe_signal.hpp"

namespace quillbox {
namespace {

constexpr std::size_t kChunkSize = 65536;
constexpr std::size_t kLargeChunkSize = 262144;
constexpr std::uint64_t kLargestReservation = 64 * 1024 * 1024;

// Lets the pipe hold up to a large chunk. A pipe the system will not enlarge
// (the user's pipes hold their most) stays as it was.
void widen_pipe(int source) {
    ::fcntl(source, F_SETPIPE_SZ, static_cast<int>(kLargeChunkSize));
}

// Room for the stream up to its limit (or a large part of it) is reserved
// once a first chunk has come: pages are only backed once written, and the
// buffer need not move and be copied as it fills. A stream that never writes
// more than a chunk reserves nothing. Where even the reservation is refused,
// the buffer grows as it goes instead. From then on the pipe holds up to a
// large chunk, and the reader takes that much at once: a child writing
// megabytes waits for the reader, and the reader wakes, a fourth as often.
void reserve_room(int source, CaptureState& state, std::uint64_t limit) {
    if (state.room_reserved || state.bytes.empty()) return;
    state.room_reserved = true;
    widen_pipe(source);
    try {
        // One byte beyond the limit, where a read tells an overrun.
        state.bytes.reserve(static_cast<std::size_t>(std::min(limit, kLargestReservation) + 1));
    } catch (const std::bad_alloc&) {
    }
}

enum class ChunkRead { Kept, Ended, Overrun };

// Reads at most `wanted` bytes of the stream straight into the captured ones,
// keeping what fits under the limit: exactly `limit` bytes is not an overrun,
// the first byte more is, so one byte beyond the room is asked for.
ChunkRead read_chunk(int source, std::uint64_t limit, CaptureState& state, std::size_t wanted) {
    SecretBytes& bytes = state.bytes;
    const std::uint64_t room = limit - state.received;
    const std::size_t asked = room >= wanted ? wanted : static_cast<std::size_t>(room) + 1;
    const std::span<unsigned char> space = bytes.room_to_append(asked);
    // A failed read ends the capture of this stream; it is not retried.
    const ssize_t got = ::read(source, space.data(), asked);
    if (got <= 0) return ChunkRead::Ended;
    if (static_cast<std::uint64_t>(got) <= room) {
        bytes.commit_appended(static_cast<std::size_t>(got));
        state.received += static_cast<std::uint64_t>(got);
        return ChunkRead::Kept;
    }
    bytes.commit_appended(static_cast<std::size_t>(room));
    state.received = limit;
    const std::lock_guard lock(state.mutex);
    state.limit_exceeded = true;
    return ChunkRead::Overrun;
}

// Told to stop, the reader still takes what the pipe holds at this moment, but
// nothing that a writer adds afterwards.
void take_pending(int source, std::uint64_t limit, CaptureState& state) {
    int pending = 0;
    if (::ioctl(source, FIONREAD, &pending) != 0) return;
    while (pending > 0) {
        const std::size_t before = state.bytes.size();
        const std::size_t wanted = std::min(static_cast<std::size_t>(pending), kChunkSize);
        if (read_chunk(source, limit, state, wanted) != ChunkRead::Kept) return;
        pending -= static_cast<int>(state.bytes.size() - before);
    }
}

// A captured stream is read into room reserved for it; a live one passes on
// what each chunk settles, so that it holds little more than a chunk. What a
// live stream holds when it ends is passed on when the run's end is known.
// The pipe of a live stream holds a large chunk from the start, so that the
// child writes on while its reader passes on what it took; the reader still
// takes a chunk at a time, which the destination's reader drains while the
// next is redacted.
void read_stream(int source, std::uint64_t limit, CaptureState& state, const WakeEvent& stop,
                 LiveOutput* live) {
    if (live != nullptr) widen_pipe(source);
    for (;;) {
        // Blocks until the pipe has something to say (data, end of file, an
        // error) or the reader is told to stop.
        const Awaited readiness = await_descriptor(source, POLLIN, stop, WhenBoth::Stop);
        if (readiness == Awaited::Stopped) {
            take_pending(source, limit, state);
            const std::lock_guard lock(state.mutex);
            state.stopped = true;
            return;
        }
        if (readiness == Awaited::Failed) return;
        if (live == nullptr) reserve_room(source, state, limit);
        const std::size_t wanted = state.room_reserved ? kLargeChunkSize : kChunkSize;
        if (read_chunk(source, limit, state, wanted) != ChunkRead::Kept) return;
        if (live != nullptr && !live->pass_settled(state.bytes, stop)) return;
    }
}

}  // namespace

Result<std::unique_ptr<StreamReader>> StreamReader::start(UniqueFd source, std::uint64_t limit,
                                                          const WakeEvent& stop,
                                                          const WakeEvent& finished,
                                                          std::optional<LiveOutput> live) {
    std::unique_ptr<StreamReader> reader(new StreamReader(stop, std::move(live)));
    CaptureState& state = reader->state_;
    LiveOutput* live_output = reader->live_ ? &*reader->live_ : nullptr;
    auto body = [&state, source = std::move(source), limit, &stop, &finished,
                 live_output]() mutable {
        try {
            // A live stream's writes fail with EPIPE where its reader is gone.
            const BrokenPipeSignalHeld broken_pipe_fails_the_write;
            read_stream(source.get(), limit, state, stop, live_output);
        } catch (const std::bad_alloc&) {
            // Out of memory for the captured bytes: end like a failed read,
            // keeping what was captured.
        }
        // Closing early makes the child's further writes to this stream fail.
        source.reset();
        {
            const std::lock_guard lock(state.mutex);
            state.finished = true;
        }
        finished.notify();
    };
    try {
        reader->thread_ = std::thread(std::move(body));
    } catch (const std::system_error& refused) {
        return fail(errors::OsError{refused.code().value()});
    }
    return reader;
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

RedactedText StreamReader::finish(const Redactor& redactor, TextEnd end, Deadline deadline,
                                  Clock& clock, RedactionWatch& watch) {
    if (thread_.joinable()) thread_.join();
    if (!live_) return redactor.redact(std::move(state_.bytes), end, watch);
    live_->pass_rest(state_.bytes, end, deadline, clock, watch);
    return RedactedText();
}

}  // namespace quillbox
