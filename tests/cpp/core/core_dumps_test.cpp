#include "core/core_dumps.hpp"

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "support/child_process.hpp"

namespace {

// Read and written only through the __atomic builtins: see the stand-in below.
int core_limit_calls = 0;

}  // namespace

// The test binary links the core statically, so this definition stands in for
// the C library's and lets the tests count how often the core limit is set.
//
// AddressSanitizer's runtime sets the core limit itself while it starts, from
// the dynamic loader and before its shadow memory is mapped. Instrumented code
// here would touch that shadow and crash every sanitized binary before main, so
// this function is left uninstrumented and calls nothing instrumented: the
// count uses compiler builtins, which are inlined, rather than std::atomic
// members, which a compiler will not inline into an uninstrumented function.
// The runtime's own call is counted too; the test starts from zero for that.
extern "C" __attribute__((no_sanitize("address", "undefined"))) int setrlimit(
    __rlimit_resource_t resource, const struct rlimit* limit) noexcept {
    if (resource == RLIMIT_CORE) __atomic_fetch_add(&core_limit_calls, 1, __ATOMIC_SEQ_CST);
    return static_cast<int>(::syscall(SYS_prlimit64, 0, resource, limit, nullptr));
}

namespace quillbox {
namespace {

TEST(CoreDumps, SwitchedOffOncePerProcessEvenUnderConcurrentCalls) {
    const auto outcome = testing::run_in_child([] {
        __atomic_store_n(&core_limit_calls, 0, __ATOMIC_SEQ_CST);
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) threads.emplace_back(suppress_core_dumps);
        for (std::thread& thread : threads) thread.join();
        suppress_core_dumps();
        rlimit limit{};
        ::getrlimit(RLIMIT_CORE, &limit);
        if (limit.rlim_cur != 0 || limit.rlim_max != 0) return 2;
        return __atomic_load_n(&core_limit_calls, __ATOMIC_SEQ_CST) == 1 ? 0 : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.stderr_text, "");
}

TEST(CoreDumps, ProcessIsMadeNonDumpable) {
    const auto outcome = testing::run_in_child([] {
        // A child that starts out non-dumpable would prove nothing.
        if (::prctl(PR_GET_DUMPABLE) != 1) return 2;
        suppress_core_dumps();
        return ::prctl(PR_GET_DUMPABLE) == 0 ? 0 : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.stderr_text, "");
}

}  // namespace
}  // namespace quillbox
