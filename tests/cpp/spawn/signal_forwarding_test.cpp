#include "spawn/signal_forwarding.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "support/spawn_test_support.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;
using namespace std::chrono_literals;

std::atomic<int> host_interrupts{0};
void note_host_interrupt(int) {
    host_interrupts.fetch_add(1);
}
void host_hangup_handler(int) {}

// Ids far above any pid_max, so that nothing could ever be signalled.
constexpr pid_t kFirstId = 1 << 30;
constexpr pid_t kSecondId = (1 << 30) + 1;

TEST(SignalForwarding, FirstMemberInstallsAndLastRestoresInAnyOrder) {
    const ScopedSignalAction host_interrupt(SIGINT, note_host_interrupt);
    const ScopedSignalAction host_termination(SIGTERM, SIG_DFL);
    const ScopedSignalAction host_hangup(SIGHUP, host_hangup_handler);
    const auto host_handlers_are_back = [] {
        return current_handler(SIGINT) == note_host_interrupt &&
               current_handler(SIGTERM) == SIG_DFL &&
               current_handler(SIGHUP) == host_hangup_handler;
    };
    const auto forwarding_everywhere = [] {
        return current_handler(SIGINT) == forward_signal &&
               current_handler(SIGTERM) == forward_signal &&
               current_handler(SIGHUP) == forward_signal;
    };

    for (const bool first_leaves_first : {true, false}) {
        SCOPED_TRACE(first_leaves_first);
        auto first = std::make_unique<SignalForwarding>(kFirstId);
        EXPECT_TRUE(forwarding_everywhere());
        auto second = std::make_unique<SignalForwarding>(kSecondId);
        (first_leaves_first ? first : second).reset();
        EXPECT_TRUE(forwarding_everywhere());
        (first_leaves_first ? second : first).reset();
        EXPECT_TRUE(host_handlers_are_back());
    }
}

// Waits, within bounds, for a file that a child creates once it is ready.
bool appears(const std::filesystem::path& marker) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (std::filesystem::exists(marker)) return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(SignalForwarding, OverlappingRunsBothGetTheSignalAndTheHostHandlerComesBack) {
    const ScopedSignalAction host_interrupt(SIGINT, note_host_interrupt);
    host_interrupts = 0;
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("quillbox-forward-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);

    // Each child traps SIGINT, then writes more than a pipe holds: that write
    // can only finish once its run's reader runs, which is after the run has
    // joined the forwarding set. Then it says it is ready.
    const auto script = [&](const char* name) {
        return "trap 'kill $!; echo interrupted; exit 0' INT; sleep 30 >/dev/null 2>&1 & "
               "head -c 131072 /dev/zero; : > " +
               (directory / name).string() + "; wait";
    };
    Result<RunOutcome> first = fail(errors::EmptyCommand{});
    Result<RunOutcome> second = fail(errors::EmptyCommand{});
    std::thread first_run([&] { first = run_shell(script("first")); });
    std::thread second_run([&] { second = run_shell(script("second")); });
    const bool both_ready = appears(directory / "first") && appears(directory / "second");
    if (both_ready) kill(getpid(), SIGINT);
    first_run.join();
    second_run.join();
    std::filesystem::remove_all(directory);

    ASSERT_TRUE(both_ready);
    for (const Result<RunOutcome>* outcome : {&first, &second}) {
        ASSERT_TRUE(outcome->has_value()) << outcome->error().to_text();
        EXPECT_TRUE((*outcome)->stdout_text.view().ends_with("interrupted\n"));
        EXPECT_EQ((*outcome)->exit_code, 0);
    }
    EXPECT_EQ(host_interrupts.load(), 0);
    EXPECT_EQ(current_handler(SIGINT), note_host_interrupt);
}

}  // namespace
}  // namespace quillbox
