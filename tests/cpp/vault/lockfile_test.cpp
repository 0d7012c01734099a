#include "vault/lockfile.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/child_process.hpp"
#include "support/core_error_printer.hpp"
#include "support/fake_clock.hpp"
#include "support/store_support.hpp"
#include "vault/lock_record.hpp"

namespace quillbox {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;
using testing::FakeClock;
using testing::LockHolder;
using testing::TempDir;

ino_t inode_of(const std::filesystem::path& path) {
    struct stat metadata{};
    EXPECT_EQ(::stat(path.c_str(), &metadata), 0);
    return metadata.st_ino;
}

std::uint32_t own_pid() {
    return static_cast<std::uint32_t>(::getpid());
}

std::string record_aged(std::uint32_t pid, seconds age, const Clock& clock) {
    return format_lock_record(pid, clock.wall_now() - age);
}

std::string stale_notice(std::uint32_t pid, seconds age) {
    return "quillbox: stale vault lockfile removed (pid=" + std::to_string(pid) +
           ", age=" + std::to_string(age.count()) + "s)\n";
}

TEST(VaultLock, HolderRecordsItselfAndReleaseEmptiesTheLockfile) {
    TempDir dir;
    const auto lockfile = dir / "vault.bin.lock";
    FakeClock clock;
    {
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", clock);
        ASSERT_TRUE(guard) << guard.error().to_text();
        const std::optional<LockRecord> record = parse_lock_record(testing::read_file(lockfile));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->pid, own_pid());
        EXPECT_EQ(record->acquired_at, clock.wall_now());
        EXPECT_EQ(testing::mode_of(lockfile) & 0777, 0600u);
    }
    EXPECT_TRUE(std::filesystem::exists(lockfile));
    EXPECT_EQ(testing::read_file(lockfile), "");
}

// A holder that is gone leaves a stale lock however young its record is; a
// live holder's record is stale once it is more than 300 s old.
TEST(VaultLock, TakesOverAStaleLockAtOnce) {
    const struct {
        std::uint32_t pid;
        seconds age;
    } cases[] = {
        {999999, days(1600)},
        {static_cast<std::uint32_t>(testing::reaped_pid()), 0s},
        {own_pid(), 301s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pid);
        TempDir dir;
        const auto lockfile = dir / "vault.bin.lock";
        FakeClock clock;
        LockHolder holder(lockfile, record_aged(c.pid, c.age, clock));

        ::testing::internal::CaptureStderr();
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", clock);
        const std::string notice = ::testing::internal::GetCapturedStderr();

        ASSERT_TRUE(guard) << guard.error().to_text();
        EXPECT_EQ(notice, stale_notice(c.pid, c.age));
        EXPECT_TRUE(clock.waits().empty());
        const std::optional<LockRecord> record = parse_lock_record(testing::read_file(lockfile));
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->pid, own_pid());
    }
}

// Ages are whole seconds, truncated: a record made 300 s before the lock is
// asked for is 300 s old, not yet stale. The holder lets go during the first
// delay, and the lock is taken without touching its lockfile.
TEST(VaultLock, YoungRecordOfALiveHolderIsWaitedFor) {
    for (const seconds age : {0s, 299s, 300s}) {
        SCOPED_TRACE(age.count());
        TempDir dir;
        const auto lockfile = dir / "vault.bin.lock";
        FakeClock clock;
        LockHolder holder(lockfile, record_aged(own_pid(), age, clock));
        clock.before_reaching(clock.now() + 10ms, [&] { holder.release(); });
        const ino_t original = inode_of(lockfile);

        ::testing::internal::CaptureStderr();
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", clock);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

        ASSERT_TRUE(guard) << guard.error().to_text();
        EXPECT_EQ(clock.waits(), std::vector<nanoseconds>{10ms});
        EXPECT_EQ(inode_of(lockfile), original);
    }
}

// Each try ages the record anew: a live holder's record of 299 s is 301 s old
// after 2.27 s of waiting, and stale then.
TEST(VaultLock, LiveHoldersRecordGoesStaleWhileWaitedFor) {
    TempDir dir;
    FakeClock clock;
    LockHolder holder(dir / "vault.bin.lock", record_aged(own_pid(), 299s, clock));

    ::testing::internal::CaptureStderr();
    const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", clock);
    const std::string notice = ::testing::internal::GetCapturedStderr();

    ASSERT_TRUE(guard) << guard.error().to_text();
    EXPECT_EQ(notice, stale_notice(own_pid(), 301s));
    EXPECT_EQ(clock.waits(),
              (std::vector<nanoseconds>{10ms, 20ms, 40ms, 80ms, 160ms, 320ms, 640ms, 1s}));
}

// An open waits for a save as long as a save waits for another, and no more:
// 10 ms doubling up to 1 s, the last delay cut short at 30 s.
TEST(VaultLock, BothLocksWaitForALiveHolderThirtySecondsWithAGrowingBackoff) {
    TempDir dir;
    const auto lockfile = dir / "vault.bin.lock";
    LockHolder holder(lockfile, format_lock_record(own_pid(), FakeClock::kWallStart));
    std::vector<nanoseconds> delays{10ms, 20ms, 40ms, 80ms, 160ms, 320ms, 640ms};
    delays.insert(delays.end(), 28, 1s);
    delays.push_back(730ms);
    const auto expect_timeout = [&](const auto& acquire) {
        FakeClock clock;
        const auto result = acquire(dir / "vault.bin", clock);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), CoreError(errors::LockTimeout{lockfile, 30}));
        EXPECT_EQ(clock.waits(), delays);
    };
    expect_timeout(acquire_shared_vault_lock);
    expect_timeout(acquire_vault_lock);
}

// A stale lockfile that cannot be removed is waited for like a live one: to
// the limit, and without a notice.
TEST(VaultLock, StaleLockfileThatCannotBeRemovedIsWaitedForQuietly) {
    TempDir dir;
    const auto shut = dir / "shut";
    std::filesystem::create_directory(shut);
    const auto lockfile = shut / "vault.bin.lock";
    testing::write_file(lockfile, "");
    testing::hand_to_unprivileged_user(dir.path());
    testing::hand_to_unprivileged_user(lockfile);
    ::chmod(shut.c_str(), 0555);
    LockHolder holder(lockfile, "999999\n2020-01-01T00:00:00+00:00\n");

    const testing::ChildOutcome outcome = testing::run_in_child([&] {
        testing::become_unprivileged_user();
        FakeClock clock;
        const Result<VaultLockGuard> guard = acquire_vault_lock(shut / "vault.bin", clock);
        if (guard || guard.error().kind() != ErrorKind::LockTimeout) return 1;
        return clock.elapsed() == 30s ? 0 : 2;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.stderr_text, "");
    EXPECT_TRUE(std::filesystem::exists(lockfile));
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
