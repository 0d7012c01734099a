#include "core/locked_region.hpp"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

#include "support/child_process.hpp"
#include "support/release_watch.hpp"

namespace quillbox {
namespace {

using testing::run_in_child;

// Root may lock memory beyond any limit; without CAP_IPC_LOCK a limit of 0
// makes every mlock fail, as it does for an ordinary user.
void forbid_memory_locking() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) == 0) {
        data[CAP_TO_INDEX(CAP_IPC_LOCK)].effective &= ~CAP_TO_MASK(CAP_IPC_LOCK);
        ::syscall(SYS_capset, &header, data);
    }
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_MEMLOCK, &none);
}

VaultEntries entries_with_values(std::initializer_list<const char*> values) {
    VaultEntries entries;
    int n = 0;
    for (const char* value : values)
        entries.push_back({"E" + std::to_string(n++), SecretBytes(value)});
    return entries;
}

// Locks every value the way an open vault does, recording what locked.
LockedRegions lock_all(const VaultEntries& entries) {
    LockedRegions regions;
    for (const VaultEntry& entry : entries) {
        if (lock_region(entry.value.data(), entry.value.size())) {
            regions.push_back(
                {reinterpret_cast<std::uintptr_t>(entry.value.data()), entry.value.size()});
        }
    }
    return regions;
}

TEST(LockedRegion, RefusedLocksWarnOncePerValueInOrderAndCloseStaysQuiet) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer turns mlock into a call that always succeeds; "
                    "quillbox_core_tests_unsanitized runs this test";
#endif
    const auto outcome = run_in_child([] {
        forbid_memory_locking();
        VaultEntries entries = entries_with_values({"a", "bb", "ccc"});
        LockedRegions regions = lock_all(entries);
        if (!regions.empty()) return 1;
        ::write(STDERR_FILENO, "--close--\n", 10);
        release_locked_secrets(regions, entries);
        return entries.empty() ? 0 : 2;
    });
    ASSERT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
    const std::string suffix =
        " failed: Operation not permitted (os error 1) — secrets may be "
        "swapped to disk\n";
    EXPECT_EQ(outcome.stderr_text,
              "[quillbox] WARNING: mlock(1 bytes)" + suffix + "[quillbox] WARNING: mlock(2 bytes)" +
                  suffix + "[quillbox] WARNING: mlock(3 bytes)" + suffix + "--close--\n");
}

TEST(LockedRegion, EmptyValueIsLockedWithoutASystemCall) {
    const auto outcome = run_in_child([] {
        forbid_memory_locking();  // any real mlock call would now warn
        VaultEntries entries = entries_with_values({""});
        LockedRegions regions = lock_all(entries);
        if (regions.size() != 1 || regions[0].length != 0) return 1;
        release_locked_secrets(regions, entries);
        return regions.empty() ? 0 : 2;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.stderr_text, "");
}

TEST(LockedRegion, ReleaseUnlocksAndWipesEveryValueBeforeFreeingIt) {
    VaultEntries entries = entries_with_values({"first-secret", "second-secret"});
    entries[1].value.reserve(5000);  // spans whole pages, so the advice is given too
    LockedRegions regions = lock_all(entries);
    ASSERT_EQ(regions.size(), 2u);
    testing::ReleaseWatch watch(entries[1].value.data());
    release_locked_secrets(regions, entries);
    EXPECT_TRUE(regions.empty());
    EXPECT_TRUE(entries.empty());
    ASSERT_TRUE(watch.released());
    EXPECT_TRUE(watch.was_zero_when_released());
}

}  // namespace
}  // namespace quillbox
