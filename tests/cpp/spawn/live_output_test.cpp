#include "spawn/live_output.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "core/unique_fd.hpp"
#include "core/utf8.hpp"
#include "spawn/executor.hpp"
#include "spawn/pipe.hpp"
#include "support/spawn_test_support.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;

const Entries kSecrets = {{"API_TOKEN", "hunter22"}, {"PW", "pass\xFFword"}};

// A pipe whose read end a thread drains, as a caller's destination would be.
class DrainedPipe {
public:
    DrainedPipe() : pipe_(*make_pipe()) {
        drainer_ = std::thread([this] {
            char buffer[4096];
            for (ssize_t got; (got = ::read(pipe_.read_end.get(), buffer, sizeof buffer)) > 0;) {
                received_.append(buffer, static_cast<std::size_t>(got));
            }
        });
    }
    int write_end() const { return pipe_.write_end.get(); }
    // Everything written, once the write end is closed.
    std::string received() {
        pipe_.write_end.reset();
        drainer_.join();
        return received_;
    }

private:
    Pipe pipe_;
    std::thread drainer_;
    std::string received_;
};

Result<RunOutcome> run_live(const std::string& script, OutputDestinations destinations,
                            RunLimits limits = kDefaultLimits) {
    const Result<Redactor> redactor = build_redactor(secret_list(kSecrets));
    if (!redactor) return fail(redactor.error());
    return execute(ExecutorRequest{.argv = argv_of({"/bin/sh", "-c", script}),
                                   .redactor = *redactor,
                                   .limits = limits,
                                   .destinations = destinations});
}

// A secret written in two halves across a pause, its encoded forms, bytes
// that are not UTF-8, a secret at the very end and the start of one that
// never ends: passed on live, every stream is what capturing it gives,
// undecoded, and nothing of a secret shows.
TEST(LiveOutput, PassesEachStreamOnRedactedAndJoinedAsCaptured) {
    const std::string script =
        "printf 'a hunt'; sleep 0.3; printf 'er22 b\\n'; "
        "printf 'aHVudGVyMjI= 68756e7465723232 pass\\377word \\000\\377\\n'; "
        "printf 'pass\\377' >&2; sleep 0.3; printf 'word\\nhunter22' >&2; printf 'x hunte'";
    const RunOutcome captured = *run_shell(script, kDefaultLimits, kSecrets);
    DrainedPipe output;
    DrainedPipe error;
    const Result<RunOutcome> live = run_live(script, {output.write_end(), error.write_end()});
    ASSERT_TRUE(live) << live.error().to_text();
    EXPECT_EQ(live->exit_code, 0);
    EXPECT_EQ(live->stdout_text.view(), "");
    EXPECT_EQ(live->stderr_text.view(), "");
    const std::string passed_output = output.received();
    EXPECT_EQ(passed_output,
              "a [REDACTED_API_TOKEN] b\n[REDACTED_API_TOKEN_B64] [REDACTED_API_TOKEN_HEX] "
              "[REDACTED_PW] " +
                  std::string("\0\xFF\n", 3) + "x hunte");
    EXPECT_EQ(decode_utf8_lossy(passed_output), captured.stdout_text.view());
    EXPECT_EQ(error.received(), "[REDACTED_PW]\n[REDACTED_API_TOKEN]");
    EXPECT_EQ(captured.stderr_text.view(), "[REDACTED_PW]\n[REDACTED_API_TOKEN]");
}

// A destination whose reader is gone ends the passing on; the child's next
// write breaks as in a pipeline, and the host lives on.
TEST(LiveOutput, ADestinationWhoseReaderIsGoneEndsOnlyThePassingOn) {
    Result<Pipe> gone = make_pipe();
    ASSERT_TRUE(gone);
    gone->read_end.reset();
    const Result<RunOutcome> outcome = run_live("yes", {gone->write_end.get(), std::nullopt});
    ASSERT_TRUE(outcome) << outcome.error().to_text();
    EXPECT_EQ(outcome->exit_code, 128 + SIGPIPE);
}

// A destination that nobody reads holds the run no longer than its deadline.
TEST(LiveOutput, ADestinationWithNoRoomHoldsNothingPastTheDeadline) {
    Result<Pipe> unread = make_pipe();
    ASSERT_TRUE(unread);
    RunLimits one_second = kDefaultLimits;
    one_second.timeout_secs = 1;
    const Result<RunOutcome> outcome =
        run_live("head -c 4000000 /dev/zero", {unread->write_end.get(), std::nullopt}, one_second);
    ASSERT_TRUE(outcome) << outcome.error().to_text();
    EXPECT_TRUE(outcome->timed_out());
}

}  // namespace
}  // namespace quillbox
