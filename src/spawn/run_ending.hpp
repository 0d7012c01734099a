#pragma once

#include <array>
#include <concepts>
#include <cstdint>

#include "spawn/cancellation.hpp"
#include "spawn/child_wait.hpp"
#include "spawn/deadline.hpp"
#include "spawn/wake_event.hpp"

namespace quillbox {

inline constexpr std::int32_t kStoppedExitCode = 124;
inline constexpr std::int32_t kStatusUnknownExitCode = 1;

// What made quillbox stop a run or cut its output, if anything did.
enum class StopCause : std::uint8_t { None, Timeout, OutputLimit, ErrorLimit, Cancellation };

// How a run ended, as the waiting thread decided it.
struct RunEnding {
    std::int32_t exit_code;
    StopCause cause;
    // We ended the child, perhaps in the middle of what it was writing.
    bool stopped_by_us;

    friend bool operator==(const RunEnding&, const RunEnding&) = default;
};

// What the waiting thread needs of a child: ChildProcess, or a stand-in that
// orders events as a test wants them.
template <typename Child>
concept WaitedChild = requires(Child child, std::span<const int> wake_fds, Deadline until) {
    { child.try_reap() } -> std::same_as<ChildStatus>;
    child.kill_and_reap();
    child.wait_for_change(wake_fds, until);
};

// What the waiting thread needs of a stream's reader.
template <typename Stream>
concept LimitedStream = requires(const Stream stream) {
    { stream.limit_exceeded() } -> std::same_as<bool>;
};

// Sleeps until something may have changed: the child ended, a reader ended,
// the deadline came or the run was cancelled. Every wake-up checks, in this
// order, the limit flags, the child's status, the deadline and the
// cancellation (none when null). An overrun, the deadline or a cancellation
// kills the child.
template <WaitedChild Child, LimitedStream Stream>
RunEnding wait_for_ending(Child& child, const Stream& output, const Stream& error,
                          Deadline deadline, const WakeEvent& reader_finished,
                          const Cancellation* cancellation, const Clock& clock) {
    const std::array<int, 2> wake_fds{reader_finished.fd(),
                                      cancellation != nullptr ? cancellation->fd() : -1};
    const auto overrun = [&] {
        if (output.limit_exceeded()) return StopCause::OutputLimit;
        if (error.limit_exceeded()) return StopCause::ErrorLimit;
        return StopCause::None;
    };
    for (;;) {
        if (const StopCause cause = overrun(); cause != StopCause::None) {
            child.kill_and_reap();
            return {kStoppedExitCode, cause, true};
        }
        const ChildStatus status = child.try_reap();
        if (status.state == ChildState::Ended) {
            // Bytes beyond a limit may have come in with the child's end; an
            // overrun that is only read after it leaves the child's own code.
            const StopCause cause = overrun();
            if (cause != StopCause::None) return {kStoppedExitCode, cause, false};
            return {status.exit_code, StopCause::None, false};
        }
        if (status.state == ChildState::StatusFailed) {
            return {kStatusUnknownExitCode, StopCause::None, false};
        }
        if (has_passed(deadline, clock)) {
            child.kill_and_reap();
            return {kStoppedExitCode, StopCause::Timeout, true};
        }
        if (cancellation != nullptr && cancellation->cancelled()) {
            child.kill_and_reap();
            return {kStoppedExitCode, StopCause::Cancellation, true};
        }
        child.wait_for_change(wake_fds, deadline);
        reader_finished.clear();
    }
}

}  // namespace quillbox
