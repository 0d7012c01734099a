#include "spawn/child_wait.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>

#include "spawn/spawn_child.hpp"
#include "support/fake_clock.hpp"
#include "support/spawn_test_support.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;
using namespace std::chrono_literals;

pid_t start(const std::vector<std::string>& words) {
    const Result<Redactor> redactor = build_redactor({});
    const UniqueFd null(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    const Result<pid_t> child =
        spawn_child(argv_of(words), {}, {null.get(), null.get()}, *redactor);
    if (!child) throw std::runtime_error(child.error().to_text());
    return *child;
}

ChildStatus wait_until_settled(ChildProcess& child) {
    const Deadline give_up = real_clock().now() + 10s;
    for (;;) {
        const ChildStatus status = child.try_reap();
        if (status.state != ChildState::Running || has_passed(give_up, real_clock())) return status;
        child.wait_for_change({}, give_up);
    }
}

class ChildWait : public ::testing::TestWithParam<ExitWatch> {};

TEST_P(ChildWait, LearnsHowTheChildEnded) {
    struct Case {
        std::string script;
        std::int32_t exit_code;
    };
    for (const Case& c : {Case{"sleep 0.1; exit 7", 7}, Case{"kill -KILL $$", 137}}) {
        SCOPED_TRACE(c.script);
        ChildProcess child(start({"/bin/sh", "-c", c.script}), GetParam());
        const ChildStatus status = wait_until_settled(child);
        EXPECT_EQ(status.state, ChildState::Ended);
        EXPECT_EQ(status.exit_code, c.exit_code);
    }
}

TEST_P(ChildWait, KillAndReapLeavesNoProcessBehind) {
    ChildProcess child(start({"sleep", "30"}), GetParam());
    child.kill_and_reap();
    EXPECT_EQ(kill(child.pid(), 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

// Without a process descriptor the waits grow from 1 ms, doubling up to 50 ms,
// and the last ends at the deadline; with one, a single wait lasts to it.
TEST_P(ChildWait, WaitsForARunningChildUntilTheDeadline) {
    using std::chrono::nanoseconds;
    testing::FakeClock clock;
    ChildProcess child(start({"sleep", "30"}), GetParam(), clock);
    const Deadline deadline = clock.now() + 200ms;
    while (!has_passed(deadline, clock)) {
        ASSERT_EQ(child.try_reap().state, ChildState::Running);
        child.wait_for_change({}, deadline);
    }
    const std::vector<nanoseconds> backoff{1ms, 2ms, 4ms, 8ms, 16ms, 32ms, 50ms, 50ms, 37ms};
    EXPECT_EQ(clock.waits(),
              GetParam() == ExitWatch::Polling ? backoff : std::vector<nanoseconds>{200ms});
}

TEST_P(ChildWait, AChildReapedElsewhereEndsWithAFailedStatusRequest) {
    const pid_t pid = start({"true"});
    ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
    ChildProcess child(pid, GetParam());
    EXPECT_EQ(child.try_reap().state, ChildState::StatusFailed);
}

INSTANTIATE_TEST_SUITE_P(EitherWatch, ChildWait,
                         ::testing::Values(ExitWatch::PidfdWhereAvailable, ExitWatch::Polling));

}  // namespace
}  // namespace quillbox
