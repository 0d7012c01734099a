#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <span>

#include "core/clock.hpp"
#include "core/unique_fd.hpp"
#include "spawn/deadline.hpp"
#include "spawn/signal_forwarding.hpp"

namespace quillbox {

// How this process learns that the child has ended.
enum class ExitWatch {
    // A process descriptor that becomes readable at the child's end, where the
    // system offers one; short back-off polling otherwise.
    PidfdWhereAvailable,
    // Back-off polling only.
    Polling,
};

enum class ChildState { Running, Ended, StatusFailed };

struct ChildStatus {
    ChildState state;
    // For an ended child: its exit status, or 128 + N when signal N ended it.
    std::int32_t exit_code;
};

// A started child that this process has yet to reap. It receives forwarded
// signals until it is reaped, and it is reaped exactly once: by try_reap() or
// kill_and_reap(), or, if neither did, when it is dropped. Its waits and its
// grace period run on `clock`.
class ChildProcess {
public:
    explicit ChildProcess(pid_t pid, ExitWatch watch = ExitWatch::PidfdWhereAvailable,
                          Clock& clock = real_clock());
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Asks for the child's status without blocking and reaps it if it has
    // ended. A failed request (the child was reaped elsewhere) also settles it.
    ChildStatus try_reap();

    // SIGTERM to the child itself (not its group); SIGKILL if it has not ended
    // 5 seconds later. Returns once the child is reaped.
    void kill_and_reap();

    // Sleeps until the child may have ended, one of `wake_fds` (each ignored
    // when negative) becomes readable, or `until` passes. It may return
    // earlier. Without a process descriptor a sleep lasts 1 ms, and each one
    // twice as long as the one before, up to 50 ms.
    static constexpr std::size_t kMostWakeDescriptors = 2;
    void wait_for_change(std::span<const int> wake_fds, Deadline until);

private:
    pid_t pid_;
    Clock& clock_;
    UniqueFd exit_notice_;
    SignalForwarding forwarding_;
    std::chrono::milliseconds backoff_{1};
    bool settled_ = false;
};

}  // namespace quillbox
