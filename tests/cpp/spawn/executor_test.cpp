#include "spawn/executor.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "core/unique_fd.hpp"
#include "support/child_process.hpp"
#include "support/fake_clock.hpp"
#include "support/spawn_test_support.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;
using namespace std::chrono_literals;

RunOutcome expect_outcome(Result<RunOutcome> outcome) {
    if (!outcome) throw std::runtime_error(outcome.error().to_text());
    return std::move(*outcome);
}

TEST(Executor, ReportsTheChildsOwnEnding) {
    struct Case {
        std::string script;
        std::string stdout_text;
        std::int32_t exit_code;
    };
    const std::vector<Case> cases = {
        {"echo hello; exit 3", "hello\n", 3},
        {"kill -KILL $$", "", 137},
        {"kill -INT $$", "", 130},
        {"printf '\\377ok'", "\xEF\xBF\xBDok", 0},
    };
    // The child must not inherit an ignored SIGINT from the test's own starter.
    const ScopedSignalAction default_interrupt(SIGINT, SIG_DFL);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const RunOutcome outcome = expect_outcome(run_shell(c.script));
        EXPECT_EQ(outcome.stdout_text.view(), c.stdout_text);
        EXPECT_EQ(outcome.exit_code, c.exit_code);
        EXPECT_FALSE(outcome.timed_out());
    }
}

TEST(Executor, StopsAChildStillRunningAtTheDeadline) {
    for (const std::uint64_t timeout_secs : {1, 0}) {
        SCOPED_TRACE(timeout_secs);
        const RunOutcome outcome =
            expect_outcome(run_words({"sleep", "5"}, {timeout_secs, 52428800, 1048576}));
        EXPECT_EQ(outcome.exit_code, 124);
        EXPECT_TRUE(outcome.timed_out());
    }
}

TEST(Executor, TreatsATimeoutBeyondTheClockAsNone) {
    const RunOutcome outcome = expect_outcome(run_shell(
        "sleep 0.1; exit 5", {std::numeric_limits<std::uint64_t>::max(), 52428800, 1048576}));
    EXPECT_EQ(outcome.exit_code, 5);
    EXPECT_FALSE(outcome.timed_out());
}

TEST(Executor, KeepsExactlyTheFirstLimitBytesOfAStream) {
    struct Case {
        std::string script;
        std::uint64_t max_output_bytes;
        std::string stdout_text;
        std::int32_t exit_code;
    };
    const auto as_many_as = [](std::size_t count) {
        return "head -c " + std::to_string(count) + " /dev/zero | tr '\\0' a; ";
    };
    // Past its first chunk a stream is read in larger ones, into room reserved
    // up to its limit, or 64 MiB where the limit is larger.
    constexpr std::size_t kBeyondChunks = 300000;
    constexpr std::size_t kBeyondRoom = (std::size_t{64} << 20) + 1;
    const std::vector<Case> cases = {
        {as_many_as(2000) + "exec sleep 5", 1000, std::string(1000, 'a'), 124},
        {as_many_as(2000) + "exec sleep 0.2", 2000, std::string(2000, 'a'), 0},
        {"echo x; exec sleep 5", 0, "", 124},
        {as_many_as(kBeyondChunks + 1) + "exec sleep 5", kBeyondChunks,
         std::string(kBeyondChunks, 'a'), 124},
        {as_many_as(kBeyondChunks) + "exec sleep 0.2", kBeyondChunks,
         std::string(kBeyondChunks, 'a'), 0},
        {as_many_as(kBeyondRoom), std::numeric_limits<std::uint64_t>::max(),
         std::string(kBeyondRoom, 'a'), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const RunOutcome outcome =
            expect_outcome(run_shell(c.script, {10, c.max_output_bytes, 1048576}));
        // Compared whole, but never printed whole.
        EXPECT_EQ(outcome.stdout_text.view().size(), c.stdout_text.size());
        EXPECT_TRUE(outcome.stdout_text.view() == c.stdout_text);
        EXPECT_EQ(outcome.exit_code, c.exit_code);
        EXPECT_FALSE(outcome.timed_out());
    }
}

TEST(Executor, LimitsStandardErrorOnItsOwn) {
    const RunOutcome outcome =
        expect_outcome(run_shell("head -c 2097152 /dev/zero | tr '\\0' e >&2; exec sleep 5"));
    EXPECT_EQ(outcome.stderr_text.view(), std::string(1048576, 'e'));
    EXPECT_EQ(outcome.stdout_text.view(), "");
    EXPECT_EQ(outcome.exit_code, 124);
    EXPECT_FALSE(outcome.timed_out());
}

// A cut on standard error stops the child as one on standard output does, and
// what is kept is redacted as cut: an end that begins a secret is labelled,
// from four bytes on.
TEST(Executor, CutsStandardErrorAtItsLimitWithoutLeavingTheStartOfASecret) {
    struct Case {
        std::uint64_t max_stderr_bytes;
        std::string stderr_text;
    };
    const std::vector<Case> cases = {
        {11, "token: [REDACTED_API_TOKEN]"},
        {10, "token: hun"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.max_stderr_bytes);
        const RunOutcome outcome = expect_outcome(
            run_shell("echo out; printf 'token: hunter22' >&2; exec sleep 5",
                      {10, 52428800, c.max_stderr_bytes}, {{"API_TOKEN", "hunter22"}}));
        EXPECT_EQ(outcome.stderr_text.view(), c.stderr_text);
        EXPECT_EQ(outcome.stdout_text.view(), "out\n");
        EXPECT_EQ(outcome.exit_code, 124);
        EXPECT_FALSE(outcome.timed_out());
    }
}

// A child reports each step it has made with a byte on a pipe it inherits.
class ChildReports {
public:
    ChildReports() {
        int ends[2];
        if (::pipe(ends) != 0) throw std::runtime_error("pipe failed");
        read_end_.reset(ends[0]);
        write_end_.reset(ends[1]);
    }

    // The shell command that reports a step.
    std::string command() const { return "echo >&" + std::to_string(write_end_.get()); }

    // Waits, within bounds, for the next report.
    bool next() const {
        pollfd readable{read_end_.get(), POLLIN, 0};
        char byte = 0;
        return ::poll(&readable, 1, 10000) == 1 && ::read(read_end_.get(), &byte, 1) == 1;
    }

private:
    UniqueFd read_end_;
    UniqueFd write_end_;
};

// One second to the deadline and its SIGTERM, which the child traps and
// outlives, then five of grace before the SIGKILL. The clock reaches the
// deadline only once the child has set its trap, and the end of the grace only
// once the trap has run.
TEST(Executor, KillsAChildThatTrapsTerminationFiveSecondsLater) {
    const ChildReports reports;
    FakeClock clock;
    clock.before_reaching(clock.now() + 1s, [&] { EXPECT_TRUE(reports.next()) << "trap set"; });
    clock.before_reaching(clock.now() + 6s, [&] { EXPECT_TRUE(reports.next()) << "trap run"; });
    const std::string script = "trap 'echo term; " + reports.command() + "' TERM; " +
                               reports.command() + "; while :; do sleep 0.1; done";

    const RunOutcome outcome = expect_outcome(run_shell(script, {1, 52428800, 1048576}, {}, clock));
    EXPECT_EQ(clock.elapsed(), 6s);
    EXPECT_EQ(outcome.stdout_text.view(), "term\n");
    EXPECT_EQ(outcome.exit_code, 124);
    EXPECT_TRUE(outcome.timed_out());
}

// The deadline comes once the child has printed the start of a secret, and
// cuts both streams there: each end that begins a secret is labelled.
TEST(Executor, CutsBothStreamsAtTheDeadlineWithoutLeavingTheStartOfASecret) {
    const ChildReports reports;
    FakeClock clock;
    clock.before_reaching(clock.now() + 1s, [&] { EXPECT_TRUE(reports.next()) << "printed"; });
    const std::string script = "printf 'token: hunte'; printf 'error: hunter' >&2; " +
                               reports.command() + "; exec sleep 30";

    const RunOutcome outcome = expect_outcome(
        run_shell(script, {1, 52428800, 1048576}, {{"API_TOKEN", "hunter22"}}, clock));
    EXPECT_EQ(outcome.stdout_text.view(), "token: [REDACTED_API_TOKEN]");
    EXPECT_EQ(outcome.stderr_text.view(), "error: [REDACTED_API_TOKEN]");
    EXPECT_EQ(outcome.exit_code, 124);
    EXPECT_TRUE(outcome.timed_out());
}

// Output whose redaction cannot end by the deadline and its half second of
// grace: every start of 256 KiB of "x" begins an 8 KiB value of 8191 "x" and a
// "y", and the clock moves on 10 ms at each look once the deadline has come.
// What was not redacted is dropped for one line that says so, and the run has
// timed out; the stream with nothing to redact stays empty.
TEST(Executor, DropsTheOutputThatItCouldNotRedactByTheDeadline) {
    const ChildReports reports;
    FakeClock clock;
    clock.before_reaching(clock.now() + 1s, [&] {
        EXPECT_TRUE(reports.next()) << "printed";
        clock.move_on_each_read(10ms);
    });
    const std::string script =
        "head -c 262144 /dev/zero | tr '\\0' x; " + reports.command() + "; exec sleep 30";

    const RunOutcome outcome = expect_outcome(run_shell(
        script, {1, 52428800, 1048576}, {{"NEARLY", std::string(8191, 'x') + "y"}}, clock));
    EXPECT_EQ(outcome.stdout_text.view(), kDroppedOutputMarker);
    EXPECT_EQ(outcome.stderr_text.view(), "");
    EXPECT_EQ(outcome.exit_code, 124);
    EXPECT_TRUE(outcome.timed_out());
}

// A user ID that no account of a test machine has.
constexpr uid_t kOrdinaryUser = 61003;

TEST(Executor, AThreadTheSystemRefusesIsAnOsErrorAndNoChildStarts) {
    const std::filesystem::path marker =
        std::filesystem::temp_directory_path() / ("quillbox-started-" + std::to_string(getpid()));
    const auto outcome = run_in_child([&] {
        // No new thread or process for this user from now on; root's own
        // processes are never held to the limit.
        const rlimit none{0, 0};
        if (setrlimit(RLIMIT_NPROC, &none) != 0) return 3;
        if (getuid() == 0 && setresuid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) != 0) return 4;
        const Result<RunOutcome> run = run_words({"/bin/sh", "-c", "echo > " + marker.string()});
        if (run) return 1;
        return run.error().kind() == ErrorKind::OsError ? 0 : 2;
    });
    EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
    EXPECT_FALSE(std::filesystem::exists(marker));
    std::filesystem::remove(marker);
}

TEST(Executor, GivesTheChildTheEnvironmentGivenAndNothingElse) {
    const RunOutcome outcome = expect_outcome(run_words({"env"}));
    EXPECT_EQ(outcome.stdout_text.view(), "");
    EXPECT_EQ(outcome.exit_code, 0);

    const Result<Redactor> redactor = build_redactor(secret_list({{"API_TOKEN", "hunter22"}}));
    ASSERT_TRUE(redactor);
    const auto run_env = [&](std::vector<std::string> variables) {
        return execute(
            ExecutorRequest{argv_of({"env"}), *redactor, kDefaultLimits, argv_of(variables)});
    };
    const RunOutcome given = expect_outcome(run_env({"B=2", "A=x=hunter22", "EMPTY="}));
    EXPECT_EQ(given.stdout_text.view(), "B=2\nA=x=[REDACTED_API_TOKEN]\nEMPTY=\n");
    EXPECT_EQ(
        run_env({"A=1", std::string("B=\0hunter22", 11)}).error(),
        CoreError(errors::SpawnFailed{"env", "environment element contains interior NUL byte"}));
}

TEST(Executor, RedactsBothStreams) {
    const RunOutcome outcome = expect_outcome(
        run_shell("echo hunter2; echo hunter2 >&2", kDefaultLimits, {{"API_TOKEN", "hunter2"}}));
    EXPECT_EQ(outcome.stdout_text.view(), "[REDACTED_API_TOKEN]\n");
    EXPECT_EQ(outcome.stderr_text.view(), "[REDACTED_API_TOKEN]\n");
}

TEST(Executor, RedactsASecretThatIsNotUtf8WithoutLeavingPartOfIt) {
    const RunOutcome outcome = expect_outcome(
        run_shell("printf 'pw=hunter2\\377\\n'", kDefaultLimits, {{"PW", "hunter2\xFF"}}));
    EXPECT_EQ(outcome.stdout_text.view(), "pw=[REDACTED_PW]\n");
}

TEST(Executor, ChildReadsTheHostsStandardInput) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], "from-stdin\n", 11), 11);
    close(ends[1]);
    Result<RunOutcome> outcome = fail(errors::EmptyCommand{});
    {
        const ScopedDescriptor standard_input(STDIN_FILENO, ends[0]);
        outcome = run_words({"cat"});
    }
    close(ends[0]);
    EXPECT_EQ(expect_outcome(std::move(outcome)).stdout_text.view(), "from-stdin\n");
}

// The input goes to the child's standard input, then end of file; a child
// that stops reading, or never reads and outlives its deadline, holds up
// nothing, and the host is not killed by the broken pipe.
TEST(Executor, FeedsTheInputAndNeverWaitsForAChildToReadIt) {
    const Result<Redactor> redactor = build_redactor(secret_list({{"API_TOKEN", "hunter22"}}));
    ASSERT_TRUE(redactor);
    const auto run_fed = [&](std::vector<std::string> words, std::string input, RunLimits limits) {
        return expect_outcome(
            execute(ExecutorRequest{argv_of(words), *redactor, limits, {}, SecretBytes(input)}));
    };
    EXPECT_EQ(run_fed({"cat"}, "token=hunter22\n", kDefaultLimits).stdout_text.view(),
              "token=[REDACTED_API_TOKEN]\n");
    const std::string plenty(4 << 20, 'x');
    EXPECT_EQ(run_fed({"true"}, plenty, kDefaultLimits).exit_code, 0);
    RunLimits one_second = kDefaultLimits;
    one_second.timeout_secs = 1;
    EXPECT_TRUE(run_fed({"sleep", "5"}, plenty, one_second).timed_out());
}

// Signals the host ignores, as the Python interpreter ignores SIGPIPE, are
// back at their defaults in the child, which shows its own ignored set.
TEST(Executor, TheChildStartsWithTheDefaultsOfSignalsTheHostIgnores) {
    const ScopedSignalAction ignored_pipe(SIGPIPE, SIG_IGN);
    const ScopedSignalAction ignored_file_size(SIGXFSZ, SIG_IGN);
    const RunOutcome outcome = expect_outcome(run_words({"grep", "^SigIgn:", "/proc/self/status"}));
    const std::string line(outcome.stdout_text.view());
    ASSERT_EQ(line.rfind("SigIgn:", 0), 0u) << line;
    const unsigned long long ignored =
        std::stoull(line.substr(line.find_first_not_of(" \t", 7)), nullptr, 16);
    EXPECT_EQ(ignored & ((1ULL << (SIGPIPE - 1)) | (1ULL << (SIGXFSZ - 1))), 0u) << line;
}

// Descriptor number -> link target, for the listing a child prints with find.
std::map<int, std::string> parse_descriptor_listing(std::string_view listing) {
    std::map<int, std::string> targets;
    std::istringstream lines{std::string(listing)};
    int fd = 0;
    std::string target;
    while (lines >> fd >> target) targets[fd] = target;
    return targets;
}

std::set<std::string> pipes_open_here() {
    std::set<std::string> pipes;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        const std::string target = std::filesystem::read_symlink(entry.path(), ignored).string();
        if (target.starts_with("pipe:")) pipes.insert(target);
    }
    return pipes;
}

TEST(Executor, ChildHoldsNoPipeOfTheRunButItsOutputs) {
    const std::set<std::string> inherited_from_harness = pipes_open_here();
    const RunOutcome outcome = expect_outcome(
        run_words({"find", "/proc/self/fd", "-mindepth", "1", "-printf", "%f %l\\n"}));
    const std::map<int, std::string> targets = parse_descriptor_listing(outcome.stdout_text.view());

    ASSERT_TRUE(targets.contains(1) && targets.contains(2)) << outcome.stdout_text.view();
    EXPECT_TRUE(targets.at(1).starts_with("pipe:"));
    EXPECT_TRUE(targets.at(2).starts_with("pipe:"));
    EXPECT_NE(targets.at(1), targets.at(2));
    for (const auto& [fd, target] : targets) {
        if (fd <= 2 || !target.starts_with("pipe:")) continue;
        EXPECT_TRUE(inherited_from_harness.contains(target)) << fd << " " << target;
        EXPECT_NE(target, targets.at(1));
        EXPECT_NE(target, targets.at(2));
    }
}

// Running or sleeping, as opposed to gone or a zombie.
bool is_alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::size_t after_name = line.rfind(") ");
    return after_name != std::string::npos && line.size() > after_name + 2 &&
           line[after_name + 2] != 'Z' && line[after_name + 2] != 'X';
}

TEST(Executor, ReturnsByTheDeadlineWhileADescendantHoldsThePipes) {
    // The descendant writes a line after the child has ended, then holds on.
    const RunOutcome outcome = expect_outcome(
        run_shell("(sleep 0.2; echo late; exec sleep 30) & echo $!", {1, 52428800, 1048576}));
    std::istringstream lines(std::string(outcome.stdout_text.view()));
    pid_t descendant = 0;
    std::string late;
    lines >> descendant >> late;

    EXPECT_EQ(late, "late");
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_FALSE(outcome.timed_out());
    // Still alive: the run did not wait for it.
    ASSERT_GT(descendant, 0);
    EXPECT_TRUE(is_alive(descendant));
    kill(descendant, SIGKILL);
}

}  // namespace
}  // namespace quillbox
