#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>
#include <string>

#include "core/secret_file_folder.hpp"
#include "faults/call_failure.hpp"
#include "support/memory_test_folder.hpp"
#include "support/store_support.hpp"

namespace quillbox {
namespace {

using namespace quillbox::testing;

// What one folder's life, from its making to its removal, came to with a
// call failing.
struct FolderAftermath {
    std::optional<SystemCall> failed;
    // Whether the call failed while the folder and its files were made.
    bool failed_while_making = false;
    bool made = false;
    // Whether the files held their values in full, where they were made.
    bool files_whole = false;
};

FolderAftermath make_and_remove(const std::filesystem::path& base, std::uint64_t n) {
    FolderAftermath aftermath;
    const FailNthCall failure(secret_file_folder_calls(), n, EIO);
    {
        Result<SecretFileFolder> folder = SecretFileFolder::make_in(base);
        const Result<std::filesystem::path> a =
            folder ? folder->file_for("A", "alpha") : fail(folder.error());
        const Result<std::filesystem::path> b = a ? folder->file_for("B", "beta") : fail(a.error());
        aftermath.made = b.has_value();
        aftermath.failed_while_making = failure.failed_call().has_value();
        aftermath.files_whole =
            aftermath.made && read_file(*a) == "alpha" && read_file(*b) == "beta";
    }
    aftermath.failed = failure.failed_call();
    return aftermath;
}

// Each call that a run's folder of secret files asks of the system, from its
// making to its removal, fails in turn with EIO. The making fails, or gives
// files that hold their values in full (a failed sweep of dead runs' folders,
// or a refused memory lock, leaves it whole). Whichever call failed, nothing
// of the folder is left once it has gone, but where the removal could not
// open, look at or unlink an entry, which is a warning.
TEST(SecretFileFolderUnderFailures, LeavesNothingBehindWhicheverCallFails) {
    if (!MemoryTestFolder::available()) GTEST_SKIP() << "/dev/shm is not on tmpfs here";
    const MemoryTestFolder base;
    std::uint64_t injected = 0;
    for (std::uint64_t n = 1;; ++n) {
        const FolderAftermath run = make_and_remove(base.path(), n);
        SCOPED_TRACE(::testing::Message() << "call " << n << " ("
                                          << (run.failed ? call_name(*run.failed) : "none reached")
                                          << ") failing with EIO");
        EXPECT_TRUE(!run.made || run.files_whole);
        const bool removal_refused =
            run.failed && !run.failed_while_making &&
            (*run.failed == SystemCall::Openat || *run.failed == SystemCall::Fstatat ||
             *run.failed == SystemCall::Unlinkat);
        if (!removal_refused) EXPECT_EQ(names_in(base.path()), std::set<std::string>{});
        for (const std::string& left : names_in(base.path())) {
            std::filesystem::remove_all(base / left);
        }
        if (!run.failed) {
            EXPECT_TRUE(run.made);
            break;
        }
        ++injected;
        if (HasFailure()) break;
    }
    std::cout << "secret file folder: " << injected << " injected failures\n";
}

}  // namespace
}  // namespace quillbox
