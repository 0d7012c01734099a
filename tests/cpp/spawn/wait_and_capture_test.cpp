#include "spawn/wait_and_capture.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace quillbox {
namespace {

using namespace std::chrono_literals;

// A child that goes beyond the output limit and ends at once may be seen to
// end before its reader has read the excess. Here that order is certain: the
// test holds the write end of the child's standard output and writes there
// only once the child has been reaped.
TEST(WaitAndCapture, OverrunReadAfterTheChildsEndStopsTheRun) {
    const Result<Redactor> redactor = build_redactor({});
    const Result<CaptureEvents> events = CaptureEvents::create();
    ASSERT_TRUE(redactor && events);
    int output[2];
    int error[2];
    ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(error, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(0);
    ::close(error[1]);
    std::thread late_writer([pid, writer = UniqueFd(output[1])] {
        // Signal 0 reaches a child that has ended until it is reaped.
        while (::kill(pid, 0) == 0) std::this_thread::sleep_for(1ms);
        const std::string excess(20, 'x');
        EXPECT_EQ(::write(writer.get(), excess.data(), excess.size()), 20);
    });

    const RunOutcome outcome =
        wait_and_capture(SpawnedChild{pid, UniqueFd(output[0]), UniqueFd(error[0])},
                         RunLimits{10, 10, 10}, *redactor, *events);
    late_writer.join();

    EXPECT_EQ(outcome.exit_code, 124);
    EXPECT_EQ(outcome.stdout_text, std::string(10, 'x'));
    EXPECT_FALSE(outcome.timed_out);
}

}  // namespace
}  // namespace quillbox
