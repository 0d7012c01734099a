#include "spawn/live_output.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
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

// The two ends of a destination: the one a run writes to, and the one its
// reader reads.
struct DestinationEnds {
    UniqueFd read_end;
    UniqueFd write_end;
};

DestinationEnds pipe_ends() {
    Pipe pipe = *make_pipe();
    return {std::move(pipe.read_end), std::move(pipe.write_end)};
}

DestinationEnds socket_ends() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::system_error(errno, std::system_category());
    }
    return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

// A terminal that passes bytes on as they are, its controlling side read.
DestinationEnds terminal_ends() {
    UniqueFd controller(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!controller.valid() || ::grantpt(controller.get()) != 0 ||
        ::unlockpt(controller.get()) != 0) {
        throw std::system_error(errno, std::system_category());
    }
    UniqueFd terminal(::open(::ptsname(controller.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios raw{};
    if (!terminal.valid() || ::tcgetattr(terminal.get(), &raw) != 0) {
        throw std::system_error(errno, std::system_category());
    }
    ::cfmakeraw(&raw);
    if (::tcsetattr(terminal.get(), TCSANOW, &raw) != 0) {
        throw std::system_error(errno, std::system_category());
    }
    return {std::move(controller), std::move(terminal)};
}

struct DestinationKind {
    const char* name;
    DestinationEnds (*make)();
};

const DestinationKind kDestinationKinds[] = {
    {"pipe", pipe_ends}, {"socket", socket_ends}, {"terminal", terminal_ends}};

// A destination whose read end a thread drains, `read_size` bytes at a time,
// as a caller's reader would.
class DrainedDestination {
public:
    explicit DrainedDestination(DestinationEnds ends = pipe_ends(), std::size_t read_size = 4096)
        : ends_(std::move(ends)) {
        drainer_ = std::thread([this, read_size] {
            std::string buffer(read_size, '\0');
            for (ssize_t got;
                 (got = ::read(ends_.read_end.get(), buffer.data(), buffer.size())) > 0;) {
                received_.append(buffer, 0, static_cast<std::size_t>(got));
            }
        });
    }
    int write_end() const { return ends_.write_end.get(); }
    // Everything written, once the write end is closed.
    std::string received() {
        ends_.write_end.reset();
        drainer_.join();
        return received_;
    }

private:
    DestinationEnds ends_;
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
    DrainedDestination output;
    DrainedDestination error;
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

class LiveOutputTo : public ::testing::TestWithParam<DestinationKind> {};

// Far more output than the destination holds, taken a little at a time: each
// write passes on what fits and the rest waits for room, so that every byte
// arrives, in order.
TEST_P(LiveOutputTo, ADestinationThatTakesLittleAtATimeGetsEveryByteInOrder) {
    const std::string script = "seq 1 300000";
    const RunOutcome captured = *run_shell(script);
    DrainedDestination output(GetParam().make(), 1000);
    const Result<RunOutcome> live = run_live(script, {output.write_end(), std::nullopt});
    ASSERT_TRUE(live) << live.error().to_text();
    EXPECT_EQ(live->exit_code, 0);
    const std::string received = output.received();
    EXPECT_EQ(received.size(), captured.stdout_text.view().size());
    EXPECT_TRUE(received == captured.stdout_text.view());
}

// A destination that nobody reads holds the run no longer than its deadline.
TEST_P(LiveOutputTo, ADestinationWithNoRoomHoldsNothingPastTheDeadline) {
    const DestinationEnds unread = GetParam().make();
    RunLimits one_second = kDefaultLimits;
    one_second.timeout_secs = 1;
    const Result<RunOutcome> outcome =
        run_live("head -c 4000000 /dev/zero", {unread.write_end.get(), std::nullopt}, one_second);
    ASSERT_TRUE(outcome) << outcome.error().to_text();
    EXPECT_TRUE(outcome->timed_out());
}

INSTANTIATE_TEST_SUITE_P(Kinds, LiveOutputTo, ::testing::ValuesIn(kDestinationKinds),
                         [](const auto& kind) { return std::string(kind.param.name); });

}  // namespace
}  // namespace quillbox
