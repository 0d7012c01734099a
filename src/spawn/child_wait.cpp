#include "spawn/child_wait.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "core/internal_error.hpp"

namespace quillbox {
namespace {

constexpr auto kGracePeriod = std::chrono::seconds(5);
constexpr auto kLongestBackoff = std::chrono::milliseconds(50);

UniqueFd open_exit_notice(pid_t pid, ExitWatch watch) {
#ifdef SYS_pidfd_open
    if (watch == ExitWatch::PidfdWhereAvailable) {
        // Fails on kernels without process descriptors; polling covers that.
        return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    }
#else
    (void)pid;
    (void)watch;
#endif
    return UniqueFd();
}

std::int32_t exit_code_of(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED) return info.si_status;
    return 128 + info.si_status;
}

// Waits, without limit, for a child that has ended or been killed.
void reap(pid_t pid) {
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) != 0 && errno == EINTR) {
    }
}

}  // namespace

ChildProcess::ChildProcess(pid_t pid, ExitWatch watch, Clock& clock)
    : pid_(pid), clock_(clock), exit_notice_(open_exit_notice(pid, watch)), forwarding_(pid) {}

ChildProcess::~ChildProcess() {
    kill_and_reap();
}

ChildStatus ChildProcess::try_reap() {
    if (settled_) return {ChildState::StatusFailed, 0};
    // Look first without reaping: the id stays ours until the child has left
    // the forwarding set.
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        forwarding_.stop();
        settled_ = true;
        return {ChildState::StatusFailed, 0};
    }
    if (info.si_pid == 0) return {ChildState::Running, 0};
    forwarding_.stop();
    reap(pid_);
    settled_ = true;
    return {ChildState::Ended, exit_code_of(info)};
}

void ChildProcess::kill_and_reap() {
    if (settled_) return;
    ::kill(pid_, SIGTERM);
    const Deadline grace_end = clock_.now() + kGracePeriod;
    for (;;) {
        if (try_reap().state != ChildState::Running) return;
        if (has_passed(grace_end, clock_)) break;
        wait_for_change({}, grace_end);
    }
    forwarding_.stop();
    ::kill(pid_, SIGKILL);
    reap(pid_);
    settled_ = true;
}

void ChildProcess::wait_for_change(std::span<const int> wake_fds, Deadline until) {
    // Nothing is allocated while a child runs: the descriptors fit a fixed array.
    std::array<pollfd, 1 + kMostWakeDescriptors> watched{};
    if (wake_fds.size() > kMostWakeDescriptors) {
        throw InternalError("wait_for_change: too many descriptors to wake on", "src/spawn");
    }
    watched[0] = pollfd{exit_notice_.get(), POLLIN, 0};
    for (std::size_t index = 0; index < wake_fds.size(); ++index) {
        watched[index + 1] = pollfd{wake_fds[index], POLLIN, 0};
    }
    if (!exit_notice_.valid()) {
        until = std::min(until, clock_.now() + backoff_);
        backoff_ = std::min(backoff_ * 2, kLongestBackoff);
    }
    // An interruption by a signal is just an early return.
    clock_.wait_until(until, std::span(watched).first(1 + wake_fds.size()));
}

}  // namespace quillbox
