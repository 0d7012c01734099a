#include "vault/lockfile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "support/child_process.hpp"
#include "support/core_error_printer.hpp"
#include "support/store_support.hpp"
#include "vault/lock_record.hpp"

namespace quillbox {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using testing::LockHolder;
using testing::TempDir;

ino_t inode_of(const std::filesystem::path& path) {
    struct stat metadata {};
    EXPECT_EQ(::stat(path.c_str(), &metadata), 0);
    return metadata.st_ino;
}

std::uint64_t seconds_since(WallTime then) {
    return static_cast<std::uint64_t>(duration_cast<seconds>(system_clock::now() - then).count());
}

std::string record_aged(std::uint32_t pid, seconds age) {
    return format_lock_record(pid, system_clock::now() - age);
}

// The age in the one stale-lock notice of `text`, after checking its wording.
std::uint64_t stale_notice_age(const std::string& text, std::uint32_t pid) {
    const std::string prefix =
        "quillbox: stale vault lockfile removed (pid=" + std::to_string(pid) + ", age=";
    EXPECT_TRUE(text.starts_with(prefix)) << text;
    EXPECT_TRUE(text.ends_with("s)\n")) << text;
    if (!text.starts_with(prefix) || !text.ends_with("s)\n")) return 0;
    return std::stoull(text.substr(prefix.size(), text.size() - prefix.size() - 3));
}

TEST(VaultLock, HolderRecordsItselfAndReleaseEmptiesTheLockfile) {
    TempDir dir;
    const auto lockfile = dir / "vault.bin.lock";
    const auto before = floor<seconds>(system_clock::now());
    {
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin");
        ASSERT_TRUE(guard) << guard.error().to_text();
        const std::optional<LockRecord> record = parse_lock_record(testing::read_file(lockfile));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->pid, static_cast<std::uint32_t>(::getpid()));
        ASSERT_TRUE(record->acquired_at.has_value());
        EXPECT_GE(*record->acquired_at, before);
        EXPECT_EQ(testing::mode_of(lockfile) & 0777, 0600u);
    }
    EXPECT_TRUE(std::filesystem::exists(lockfile));
    EXPECT_EQ(testing::read_file(lockfile), "");
}

// A holder that is gone leaves a stale lock however young its record is.
TEST(VaultLock, TakesOverALockWhoseHolderIsGone) {
    const struct {
        std::uint32_t pid;
        WallTime recorded;
    } cases[] = {
        {999999, WallTime(sys_days(year(2020) / January / 1))},
        {static_cast<std::uint32_t>(testing::reaped_pid()), system_clock::now()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pid);
        TempDir dir;
        const auto lockfile = dir / "vault.bin.lock";
        LockHolder holder(lockfile, format_lock_record(c.pid, c.recorded));
        const std::uint64_t age_before = seconds_since(c.recorded);

        ::testing::internal::CaptureStderr();
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin");
        const std::string notice = ::testing::internal::GetCapturedStderr();

        ASSERT_TRUE(guard) << guard.error().to_text();
        const std::uint64_t age = stale_notice_age(notice, c.pid);
        EXPECT_GE(age, age_before);
        EXPECT_LE(age, seconds_since(c.recorded));
        const std::optional<LockRecord> record = parse_lock_record(testing::read_file(lockfile));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->pid, static_cast<std::uint32_t>(::getpid()));
    }
}

TEST(VaultLock, RecordOlderThanFiveMinutesIsStaleEvenWhenItsHolderLives) {
    TempDir dir;
    const auto pid = static_cast<std::uint32_t>(::getpid());
    LockHolder holder(dir / "vault.bin.lock", record_aged(pid, 301s));

    ::testing::internal::CaptureStderr();
    const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin");
    const std::string notice = ::testing::internal::GetCapturedStderr();

    ASSERT_TRUE(guard) << guard.error().to_text();
    const std::uint64_t age = stale_notice_age(notice, pid);
    EXPECT_GE(age, 301u);
    EXPECT_LE(age, 302u);
}

TEST(VaultLock, YoungRecordOfALiveHolderIsWaitedFor) {
    TempDir dir;
    const auto lockfile = dir / "vault.bin.lock";
    LockHolder holder(lockfile, record_aged(static_cast<std::uint32_t>(::getpid()), 299s), 200ms);
    const ino_t original = inode_of(lockfile);

    ::testing::internal::CaptureStderr();
    const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    ASSERT_TRUE(guard) << guard.error().to_text();
    EXPECT_EQ(inode_of(lockfile), original);
}

// Ages are whole seconds, truncated: a record made 300 s before the lock is
// asked for is 300 s old, not yet stale, for a second. A try that took longer
// (a stalled machine) tells nothing and is made again.
TEST(VaultLock, RecordOfALiveHolderExactlyFiveMinutesOldIsWaitedFor) {
    const auto pid = static_cast<std::uint32_t>(::getpid());
    for (;;) {
        TempDir dir;
        const auto started = steady_clock::now();
        LockHolder holder(dir / "vault.bin.lock", record_aged(pid, 300s));
        ::testing::internal::CaptureStderr();
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", 200ms);
        const std::string notice = ::testing::internal::GetCapturedStderr();
        if (steady_clock::now() - started >= 1s) continue;

        EXPECT_EQ(notice, "");
        ASSERT_FALSE(guard);
        EXPECT_EQ(guard.error().kind(), ErrorKind::LockTimeout);
        return;
    }
}

// An open waits for a save as long as a save waits for another, and no more.
TEST(VaultLock, BothLocksWaitForALiveHolderOnlyUpToTheLimit) {
    TempDir dir;
    const auto lockfile = dir / "vault.bin.lock";
    LockHolder holder(lockfile, record_aged(static_cast<std::uint32_t>(::getpid()), 0s));
    const auto timed_out = [&](const auto& result) {
        return !result && result.error().kind() == ErrorKind::LockTimeout &&
               result.error().to_text().find("Waited 1s") != std::string::npos;
    };
    EXPECT_TRUE(timed_out(acquire_shared_vault_lock(dir / "vault.bin", 1s)));
    EXPECT_TRUE(timed_out(acquire_vault_lock(dir / "vault.bin", 1s)));
}

TEST(VaultLock, StaleLockfileThatCannotBeRemovedIsWaitedForQuietly) {
    TempDir dir;
    const auto shut = dir / "shut";
    std::filesystem::create_directory(shut);
    const auto lockfile = shut / "vault.bin.lock";
    testing::write_file(lockfile, "");
    testing::hand_to_unprivileged_user(dir.path());
    testing::hand_to_unprivileged_user(lockfile);
    ::chmod(shut.c_str(), 0555);
    LockHolder holder(lockfile, "999999\n2020-01-01T00:00:00+00:00\n", 300ms);

    const testing::ChildOutcome outcome = testing::run_in_child([&] {
        testing::become_unprivileged_user();
        return acquire_vault_lock(shut / "vault.bin") ? 0 : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.stderr_text, "");
}

// Where no lockfile can be made, nothing can be saved, and the vault file
// cannot change while it is read: an open reads it without a lock.
TEST(VaultLock, WithoutALockfileASaveFailsAtOnceAndAnOpenReadsUnlocked) {
    TempDir dir;
    const auto shut = dir / "shut";
    std::filesystem::create_directory(shut);
    testing::hand_to_unprivileged_user(dir.path());
    ::chmod(shut.c_str(), 0555);

    const testing::ChildOutcome outcome = testing::run_in_child([&] {
        testing::become_unprivileged_user();
        const Result<VaultLockGuard> exclusive = acquire_vault_lock(shut / "vault.bin");
        if (exclusive || !exclusive.error().is_os_error({EACCES}) ||
            exclusive.error().circumstance().find((shut / "vault.bin.lock").string()) ==
                std::string::npos) {
            return 1;
        }
        return acquire_shared_vault_lock(shut / "vault.bin") ? 0 : 2;
    });
    EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
}

TEST(VaultLock, NulInThePathIsRefused) {
    const Result<VaultLockGuard> guard =
        acquire_vault_lock(std::filesystem::path(std::string("/tmp/a\0b", 8)));
    ASSERT_FALSE(guard);
    EXPECT_EQ(guard.error(),
              CoreError(errors::IoMessage{"file name contained an unexpected NUL byte"}));
}

}  // namespace
}  // namespace quillbox
