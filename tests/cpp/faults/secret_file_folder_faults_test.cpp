#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <optional>
#include <set>
#include <string>

#include "core/secret_file_folder.hpp"
#include "faults/call_failure.hpp"
#include "support/memory_test_folder.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;

// Each call that a run's folder of secret files asks of the system, from its
// making to its removal, fails in turn with EIO. A failure while the folder
// and its files are made fails the making (but a refused memory lock, which
// is a warning), and whichever call failed, nothing of the folder is left
// once it has gone.
TEST(SecretFileFolderUnderFailures, LeavesNothingBehindWhicheverCallFails) {
    if (!MemoryTestFolder::available()) GTEST_SKIP() << "/dev/shm is not on tmpfs here";
    const MemoryTestFolder base;
    const SystemCalls calls = calls_of({SystemCall::Open, SystemCall::Flock, SystemCall::Fchmod,
                                        SystemCall::Pwrite, SystemCall::Fstat, SystemCall::Mlock});
    std::uint64_t injected = 0;
    for (std::uint64_t n = 1;; ++n) {
        bool made = false;
        std::uint64_t calls_while_making = 0;
        std::optional<SystemCall> failed;
        {
            const FailNthCall failure(calls, n, EIO);
            {
                Result<SecretFileFolder> folder = SecretFileFolder::make_in(base.path());
                made = folder && folder->file_for("A", "alpha") && folder->file_for("B", "beta");
                calls_while_making = failure.calls_seen();
            }
            failed = failure.failed_call();
        }
        SCOPED_TRACE(::testing::Message()
                     << "call " << n << " (" << (failed ? call_name(*failed) : "none reached")
                     << ") failing with EIO");
        EXPECT_EQ(names_in(base.path()), std::set<std::string>{});
        if (!failed) {
            EXPECT_TRUE(made);
            break;
        }
        ++injected;
        if (n <= calls_while_making && *failed != SystemCall::Mlock) EXPECT_FALSE(made);
        if (HasFailure()) break;
    }
    std::cout << "secret file folder: " << injected << " injected failures\n";
}

}  // namespace
}  // namespace quillbox
