#include "vault/lockfile.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
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

// The exclusive lock on the lockfile through another open file description of
// this process, which excludes this process's other descriptions as another
// process would.
class HeldHere {
public:
    HeldHere(const std::filesystem::path& lockfile, std::string_view record)
        : fd_(::open(lockfile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        EXPECT_EQ(::write(fd_.get(), record.data(), record.size()),
                  static_cast<ssize_t>(record.size()));
        EXPECT_EQ(::flock(fd_.get(), LOCK_EX), 0);
    }

private:
    UniqueFd fd_;
};

TEST(VaultLock, HolderRecordsItselfAndReleaseEmptiesTheLockfile) {
    TempDir dir;
    const auto lockfile = dir / "vault.bin.lock";
    FakeClock clock;
    {
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", clock);
        ASSERT_TRUE(guard) << guard.error().to_text();
        EXPECT_EQ(testing::read_file(lockfile), format_lock_record(own_pid(), clock.wall_now()));
        EXPECT_EQ(testing::mode_of(lockfile) & 0777, 0600u);
    }
    EXPECT_TRUE(std::filesystem::exists(lockfile));
    EXPECT_EQ(testing::read_file(lockfile), "");
}

// Whether a lock is held is the kernel's to say. A record that names a process
// this one cannot see (gone, or in another PID namespace), or that is years
// old, belongs to a holder all the same while the lock is held: both kinds of
// lock wait for it to the limit, and its lockfile and record stay as they are.
TEST(VaultLock, AHeldLockIsNeverRemovedWhateverItsRecordSays) {
    const FakeClock start;
    const std::string records[] = {
        "999999\n2020-01-01T00:00:00+00:00\n",
        record_aged(static_cast<std::uint32_t>(testing::reaped_pid()), 0s, start),
        record_aged(own_pid(), 301s, start),
        "1234\n",
        "",
    };
    const std::function<Result<bool>(const std::filesystem::path&, Clock&)> acquirers[] = {
        [](const auto& vault, Clock& clock) -> Result<bool> {
            if (Result<VaultLockGuard> guard = acquire_vault_lock(vault, clock); !guard) {
                return fail(guard.error());
            }
            return true;
        },
        [](const auto& vault, Clock& clock) -> Result<bool> {
            if (Result<SharedVaultLock> lock = acquire_shared_vault_lock(vault, clock); !lock) {
                return fail(lock.error());
            }
            return true;
        },
    };
    for (const std::string& record : records) {
        for (const bool in_another_process : {true, false}) {
            for (const auto& acquire : acquirers) {
                SCOPED_TRACE(record + (in_another_process ? " (another process)" : " (here)"));
                TempDir dir;
                const auto lockfile = dir / "vault.bin.lock";
                std::optional<LockHolder> holder;
                std::optional<HeldHere> held_here;
                if (in_another_process) {
                    holder.emplace(lockfile, record);
                } else {
                    held_here.emplace(lockfile, record);
                }
                const ino_t original = inode_of(lockfile);
                FakeClock clock;

                ::testing::internal::CaptureStderr();
                const Result<bool> acquired = acquire(dir / "vault.bin", clock);
                EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

                ASSERT_FALSE(acquired);
                EXPECT_EQ(acquired.error(), CoreError(errors::LockTimeout{lockfile, 30}));
                EXPECT_EQ(clock.elapsed(), 30s);
                EXPECT_EQ(inode_of(lockfile), original);
                EXPECT_EQ(testing::read_file(lockfile), record);
            }
        }
    }
}

// The kernel drops the lock of a holder that dies, before a waiter comes or
// while it waits: the waiter takes it then, on the same lockfile, and replaces
// the dead holder's record by its own.
TEST(VaultLock, AHoldersLockEndsWithIt) {
    const struct {
        const char* when;
        std::function<void(LockHolder&, FakeClock&)> end;
        std::vector<nanoseconds> waits;
    } cases[] = {
        {"before", [](LockHolder& holder, FakeClock&) { holder.release(); }, {}},
        {"during the first delay",
         [](LockHolder& holder, FakeClock& clock) {
             clock.before_reaching(clock.now() + 10ms, [&holder] { holder.release(); });
         },
         {10ms}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        TempDir dir;
        const auto lockfile = dir / "vault.bin.lock";
        FakeClock clock;
        LockHolder holder(lockfile, "999999\n2020-01-01T00:00:00+00:00\n");
        const ino_t original = inode_of(lockfile);
        c.end(holder, clock);

        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", clock);
        ASSERT_TRUE(guard) << guard.error().to_text();
        EXPECT_EQ(clock.waits(), c.waits);
        EXPECT_EQ(inode_of(lockfile), original);
        EXPECT_EQ(testing::read_file(lockfile), format_lock_record(own_pid(), clock.wall_now()));
    }
}

// A program that a holder's thread started keeps nothing of its lock: when the
// holder dies, the lock is free, though the program lives on.
TEST(VaultLock, ProgramsAHolderStartedDoNotKeepItsLock) {
    TempDir dir;
    const testing::ChildOutcome outcome = testing::run_in_child([&] {
        // The program, orphaned by its holder, comes back here to be reaped.
        if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return 10;
        int started[2];
        if (::pipe(started) != 0) return 11;
        const pid_t holder = ::fork();
        if (holder == 0) {
            const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin");
            int exec_done[2];
            if (!guard || ::pipe2(exec_done, O_CLOEXEC) != 0) ::_exit(1);
            const pid_t program = ::fork();
            if (program == 0) {
                ::execl("/bin/sleep", "sleep", "60", static_cast<char*>(nullptr));
                ::_exit(127);
            }
            // The pipe comes to its end once the program runs, when the
            // descriptors marked close-on-exec have been closed.
            ::close(exec_done[1]);
            char byte = 0;
            if (program < 0 || ::read(exec_done[0], &byte, 1) != 0) ::_exit(1);
            // Ends without letting go, as a killed holder would.
            ::_exit(::write(started[1], &program, sizeof program) == sizeof program ? 0 : 1);
        }
        pid_t program = -1;
        const bool told = ::read(started[0], &program, sizeof program) == sizeof program;
        int status = 0;
        ::waitpid(holder, &status, 0);
        if (!told || status != 0) return 12;

        FakeClock clock;
        const Result<VaultLockGuard> guard = acquire_vault_lock(dir / "vault.bin", clock);
        ::kill(program, SIGKILL);
        ::waitpid(program, nullptr, 0);
        if (!guard) return 2;
        return clock.waits().empty() ? 0 : 3;
    });
    EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
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
              CoreError(errors::IoMessage{"file name contained an unexpected NUL byte"})
                  .in_circumstance("opening \"/tmp/a\\0b.lock\""));
}

}  // namespace
}  // namespace quillbox
