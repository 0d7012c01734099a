#include "vault/process_alive.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/child_process.hpp"
#include "support/store_support.hpp"

namespace quillbox {
namespace {

TEST(ProcessAlive, AnyExistingProcessCountsAndAReapedOneDoesNot) {
    const pid_t self = ::getpid();
    EXPECT_TRUE(process_may_be_alive(static_cast<std::uint32_t>(self)));
    EXPECT_FALSE(process_may_be_alive(static_cast<std::uint32_t>(testing::reaped_pid())));
    // To another user this process exists, though it may not be signalled.
    const testing::ChildOutcome outcome = testing::run_in_child([self] {
        testing::become_unprivileged_user();
        return process_may_be_alive(static_cast<std::uint32_t>(self)) ? 0 : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0);
}

}  // namespace
}  // namespace quillbox
