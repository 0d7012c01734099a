#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "core/unique_fd.hpp"
#include "faults/call_failure.hpp"
#include "support/core_error_printer.hpp"
#include "support/spawn_test_support.hpp"
#include "support/store_support.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;

constexpr std::string_view kMarker = "printed by the child";

// What one run left behind.
struct RunAftermath {
    Result<RunOutcome> outcome;
    std::optional<SystemCall> failed;
    // What reached the test process's own standard output and error.
    std::string host_output;
    // Whether a child of the test process was still there after the run.
    bool child_left = false;
};

// A child that prints the marker on both streams, then its input, started
// with the `n`th set-up call failing.
RunAftermath run_failing(std::uint64_t n, HostDescriptors host_descriptors) {
    const TempDir dir;
    const std::filesystem::path host_output = dir / "host-output";
    const std::string script =
        "echo '" + std::string(kMarker) + "'; echo '" + std::string(kMarker) + "' >&2; cat";
    const Result<Redactor> redactor = build_redactor({});
    if (!redactor) throw std::runtime_error(redactor.error().to_text());
    ExecutorRequest request{.argv = argv_of({"/bin/sh", "-c", script}),
                            .redactor = *redactor,
                            .limits = kDefaultLimits,
                            .environment = {},
                            .input = SecretBytes("input\n"),
                            .destinations = {},
                            .host_descriptors = host_descriptors};

    std::optional<RunAftermath> aftermath;
    {
        const UniqueFd output(::open(host_output.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        const ScopedDescriptor host_stdout(STDOUT_FILENO, output.get());
        const ScopedDescriptor host_stderr(STDERR_FILENO, output.get());
        const FailNthCall failure(spawn_set_up_calls(), n, ENOMEM);
        Result<RunOutcome> outcome = execute(std::move(request));
        aftermath.emplace(RunAftermath{std::move(outcome), failure.failed_call(), "", false});
    }
    aftermath->host_output = read_file(host_output);
    errno = 0;
    aftermath->child_left = ::waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD;
    return std::move(*aftermath);
}

class SpawnUnderFailures : public ::testing::TestWithParam<HostDescriptors> {};

// Every call that sets up the child's start fails in turn with ENOMEM: the run
// fails before any child exists, and nothing reaches the host's descriptors.
TEST_P(SpawnUnderFailures, FailsBeforeAnyChildWhicheverSetUpCallFails) {
    std::uint64_t injected = 0;
    for (std::uint64_t n = 1;; ++n) {
        const RunAftermath run = run_failing(n, GetParam());
        SCOPED_TRACE(::testing::Message() << "call " << n << " ("
                                          << (run.failed ? call_name(*run.failed) : "none reached")
                                          << ") failing with ENOMEM");
        EXPECT_EQ(run.host_output.find(kMarker), std::string::npos) << run.host_output;
        EXPECT_FALSE(run.child_left);
        if (!run.failed) {
            ASSERT_TRUE(run.outcome) << run.outcome.error().to_text();
            EXPECT_EQ(run.outcome->stdout_text.view(), std::string(kMarker) + "\ninput\n");
            EXPECT_EQ(run.outcome->stderr_text.view(), std::string(kMarker) + "\n");
            break;
        }
        ++injected;
        EXPECT_FALSE(run.outcome);
        if (HasFailure()) break;
    }
    RecordProperty("injected_failures", std::to_string(injected));
    std::cout << "spawn: " << injected << " injected failures\n";
}

// A reader enlarges its pipe once a stream's first chunk has come; where the
// system will not (the user's pipes hold their most), the pipe stays as it
// was and the stream is captured whole all the same.
TEST(CaptureUnderFailures, APipeThatWillNotGrowStillDeliversEverything) {
    const FailNthCall failure(calls_of({SystemCall::Fcntl}), 1, EPERM);
    const Result<RunOutcome> outcome =
        run_shell("head -c 3000000 /dev/zero | tr '\\0' a", kDefaultLimits);
    ASSERT_TRUE(outcome) << outcome.error().to_text();
    EXPECT_EQ(failure.failed_call(), SystemCall::Fcntl);
    EXPECT_EQ(outcome->stdout_text.view().size(), 3000000u);
    EXPECT_EQ(outcome->stdout_text.view().find_first_not_of('a'), std::string_view::npos);
}

INSTANTIATE_TEST_SUITE_P(HostDescriptors, SpawnUnderFailures,
                         ::testing::Values(HostDescriptors::Inherited, HostDescriptors::Closed),
                         [](const auto& info) {
                             return info.param == HostDescriptors::Inherited ? "Inherited"
                                                                             : "Closed";
                         });

}  // namespace
}  // namespace quillbox
