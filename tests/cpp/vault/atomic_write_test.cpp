#include "vault/atomic_write.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.hpp"
#include "support/core_error_printer.hpp"
#include "support/store_support.hpp"

namespace quillbox {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

std::span<const unsigned char> bytes_of(std::string_view text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// Every name in the directory.
std::vector<std::string> names_in(const std::filesystem::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename());
    }
    return names;
}

TEST(WriteAtomically, EmptyBytesGiveAnEmptyPrivateFile) {
    TempDir dir;
    const auto target = dir / "vault.bin";
    write_file(target, "old contents");
    ::chmod(target.c_str(), 0644);

    ASSERT_TRUE(write_atomically(target, {}));
    EXPECT_EQ(read_file(target), "");
    EXPECT_EQ(testing::mode_of(target) & 0777, 0600u);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"vault.bin"});
}

TEST(WriteAtomically, SymbolicLinkIsReplacedAndItsTargetKept) {
    TempDir dir;
    const auto pointee = dir / "elsewhere.bin";
    const auto target = dir / "vault.bin";
    write_file(pointee, "untouched");
    std::filesystem::create_symlink(pointee, target);

    ASSERT_TRUE(write_atomically(target, bytes_of("new")));
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    EXPECT_EQ(read_file(target), "new");
    EXPECT_EQ(read_file(pointee), "untouched");
}

TEST(WriteAtomically, UnwritableDirectoryLeavesTheTargetAlone) {
    TempDir dir;
    const auto shut = dir / "shut";
    std::filesystem::create_directory(shut);
    const auto target = shut / "vault.bin";
    write_file(target, "old");
    testing::hand_to_unprivileged_user(dir.path());
    ::chmod(shut.c_str(), 0555);

    const testing::ChildOutcome outcome = testing::run_in_child([&] {
        testing::become_unprivileged_user();
        const Status written = write_atomically(target, bytes_of("new"));
        return !written && written.error().kind() == ErrorKind::OsError ? 0 : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(read_file(target), "old");
}

// A write that runs out of room (here, the file size limit) leaves the target
// as it was and no temporary file, and says which file it could not write.
TEST(WriteAtomically, AFailedWriteRemovesItsTemporaryFileAndNamesIt) {
    TempDir dir;
    const auto target = dir / "vault.bin";
    write_file(target, "old");
    const testing::ChildOutcome outcome = testing::run_in_child([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{4, 4};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) return 2;
        const Status written = write_atomically(target, bytes_of("more than four bytes"));
        const std::string temporary = target.string() + ".tmp." + std::to_string(::getpid()) + '.';
        return !written && written.error().is_os_error({EFBIG}) &&
                       written.error().circumstance().find(temporary) != std::string::npos
                   ? 0
                   : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
    EXPECT_EQ(read_file(target), "old");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"vault.bin"});
}

TEST(WriteAtomically, NulInThePathIsRefused) {
    const Status written =
        write_atomically(std::filesystem::path(std::string("/tmp/a\0b", 8)), bytes_of("x"));
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error(),
              CoreError(errors::IoMessage{"file name contained an unexpected NUL byte"}));
}

}  // namespace
}  // namespace quillbox
