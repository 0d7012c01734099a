#include "core/core_dumps.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/child_process.hpp"

namespace {

std::atomic<int> core_limit_calls{0};

}  // namespace

// The test binary links the core statically, so this definition stands in for
// the C library's and lets the tests count how often the core limit is set.
extern "C" int setrlimit(__rlimit_resource_t resource, const struct rlimit* limit) noexcept {
    if (resource == RLIMIT_CORE) ++core_limit_calls;
    return static_cast<int>(::syscall(SYS_prlimit64, 0, resource, limit, nullptr));
}

namespace quillbox {
namespace {

TEST(CoreDumps, SwitchedOffOncePerProcessEvenUnderConcurrentCalls) {
    const auto outcome = testing::run_in_child([] {
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) threads.emplace_back(suppress_core_dumps);
        for (std::thread& thread : threads) thread.join();
        suppress_core_dumps();
        rlimit limit{};
        ::getrlimit(RLIMIT_CORE, &limit);
        if (limit.rlim_cur != 0 || limit.rlim_max != 0) return 2;
        return core_limit_calls.load() == 1 ? 0 : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.stderr_text, "");
}

}  // namespace
}  // namespace quillbox
