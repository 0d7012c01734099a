#include "spawn/run_ending.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/fake_clock.hpp"

namespace quillbox {
namespace {

using namespace std::chrono_literals;

struct StubStream {
    bool overrun = false;
    bool limit_exceeded() const { return overrun; }
};

// A child whose status requests answer from a script; each answer may first
// change the streams, as a reader would between two checks of the waiter.
struct ScriptedChild {
    struct Answer {
        ChildStatus status;
        std::function<void()> meanwhile;
    };
    std::vector<Answer> answers;
    std::size_t asked = 0;
    bool killed = false;

    ChildStatus try_reap() {
        const Answer& answer = answers.at(std::min(asked++, answers.size() - 1));
        if (answer.meanwhile) answer.meanwhile();
        return answer.status;
    }
    void kill_and_reap() { killed = true; }
    void wait_for_change(std::span<const int>, Deadline) {}
};

constexpr ChildStatus kRunning{ChildState::Running, 0};
constexpr ChildStatus kEndedWith3{ChildState::Ended, 3};
constexpr ChildStatus kStatusFailed{ChildState::StatusFailed, 0};

TEST(WaitForEnding, DecidesFromTheLimitsTheChildAndTheDeadlineInThatOrder) {
    StubStream output;
    StubStream error;
    const auto overrun_output = [&] { output.overrun = true; };
    const auto overrun_error = [&] { error.overrun = true; };
    testing::FakeClock clock;
    clock.wait_until(clock.now() + 1h, {});
    const Deadline far = clock.now() + 1h;
    const Deadline passed = clock.now() - 1s;
    struct Case {
        std::string name;
        std::vector<ScriptedChild::Answer> answers;
        Deadline deadline;
        RunEnding ending;
        bool killed;
    };
    const std::vector<Case> cases = {
        {"ends on its own",
         {{kRunning, {}}, {kEndedWith3, {}}},
         far,
         {3, StopCause::None, false},
         false},
        {"overruns while running",
         {{kRunning, overrun_output}, {kRunning, {}}},
         far,
         {124, StopCause::OutputLimit, true},
         true},
        {"standard error overruns while running",
         {{kRunning, overrun_error}, {kRunning, {}}},
         far,
         {124, StopCause::ErrorLimit, true},
         true},
        // The overrun comes in with the child's end: checked again, not lost.
        {"overruns as it ends",
         {{kEndedWith3, overrun_output}},
         far,
         {124, StopCause::OutputLimit, false},
         false},
        {"status unknown", {{kStatusFailed, {}}}, far, {1, StopCause::None, false}, false},
        {"outlives the deadline", {{kRunning, {}}}, passed, {124, StopCause::Timeout, true}, true},
        {"ends at the deadline", {{kEndedWith3, {}}}, passed, {3, StopCause::None, false}, false},
    };
    const Result<WakeEvent> reader_finished = WakeEvent::create();
    ASSERT_TRUE(reader_finished);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        output = {};
        error = {};
        ScriptedChild child{c.answers};
        EXPECT_EQ(
            wait_for_ending(child, output, error, c.deadline, *reader_finished, nullptr, clock),
            c.ending);
        EXPECT_EQ(child.killed, c.killed);
    }
}

}  // namespace
}  // namespace quillbox
