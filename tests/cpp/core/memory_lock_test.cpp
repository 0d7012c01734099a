#include "core/memory_lock.hpp"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/page_lock_counts.hpp"
#include "core/secret_bytes.hpp"
#include "support/capabilities.hpp"
#include "support/child_process.hpp"
#include "support/process_status.hpp"
#include "support/release_watch.hpp"
#include "support/sanitizers.hpp"

namespace quillbox {
namespace {

using testing::run_in_child;

// Root may lock memory beyond any limit; without CAP_IPC_LOCK a limit of 0
// makes every mlock fail, as it does for an ordinary user.
void forbid_memory_locking() {
    testing::drop_effective_capability(CAP_IPC_LOCK);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_MEMLOCK, &none);
}

// The kibibytes this process has locked, as the kernel counts them.
std::size_t locked_kib() {
    return testing::process_status_kib("VmLck");
}

TEST(PageLockCounts, APageIsGivenUpOnlyByTheLastRangeOnIt) {
    constexpr std::uintptr_t kPage = 0x1000;
    PageLockCounts counts(kPage);
    counts.add(0x10f00, 0x200);   // pages 0x10000 and 0x11000
    counts.add(0x11800, 0x2000);  // pages 0x11000 to 0x13000
    counts.add(0x20000, 0);       // nothing
    EXPECT_EQ(counts.remove(0x20000, 0), std::vector<PageRun>{});
    // The first range's second page is still the other range's.
    EXPECT_EQ(counts.remove(0x10f00, 0x200), (std::vector<PageRun>{{0x10000, 1}}));
    EXPECT_EQ(counts.remove(0x11800, 0x2000), (std::vector<PageRun>{{0x11000, 3}}));
}

// Two small buffers that share a page, one released while the other stays.
TEST(MemoryLock, ReleasingOneBufferKeepsItsNeighbourOnTheSamePageLocked) {
    if (testing::kAddressSanitized) {
        GTEST_SKIP() << "the address sanitizer turns mlock into a call that does nothing; "
                        "quillbox_core_tests_unsanitized runs this test";
    }
    const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto page_of = [&](const SecretBytes& bytes) {
        return reinterpret_cast<std::uintptr_t>(bytes.data()) / page;
    };
    std::vector<std::unique_ptr<SecretBytes>> buffers;
    std::optional<std::pair<SecretBytes*, SecretBytes*>> neighbours;
    while (!neighbours) {
        buffers.push_back(std::make_unique<SecretBytes>("value-" + std::to_string(buffers.size())));
        for (std::size_t i = 0; i + 1 < buffers.size() && !neighbours; ++i) {
            if (page_of(*buffers[i]) == page_of(*buffers.back())) {
                neighbours.emplace(buffers[i].get(), buffers.back().get());
            }
        }
    }
    const std::size_t before = locked_kib();
    ASSERT_TRUE(neighbours->first->lock_into_memory());
    ASSERT_TRUE(neighbours->second->lock_into_memory());
    const std::size_t with_both = locked_kib();
    EXPECT_GT(with_both, before);
    *neighbours->first = SecretBytes();
    EXPECT_EQ(locked_kib(), with_both);
    *neighbours->second = SecretBytes();
    EXPECT_EQ(locked_kib(), before);
}

TEST(MemoryLock, RefusedLocksWarnOncePerValueInOrderAndReleaseStaysQuiet) {
    if (testing::kAddressSanitized) {
        GTEST_SKIP() << "the address sanitizer turns mlock into a call that always succeeds; "
                        "quillbox_core_tests_unsanitized runs this test";
    }
    const auto outcome = run_in_child([] {
        forbid_memory_locking();
        std::vector<SecretBytes> values;
        for (const char* value : {"a", "bb", "ccc"}) values.emplace_back(value);
        for (SecretBytes& value : values) {
            if (value.lock_into_memory()) return 1;
        }
        ::write(STDERR_FILENO, "--release--\n", 12);
        values.clear();
        return 0;
    });
    ASSERT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
    const std::string suffix =
        " failed: Operation not permitted (os error 1) — secrets may be "
        "swapped to disk\n";
    EXPECT_EQ(outcome.stderr_text,
              "[quillbox] WARNING: mlock(1 bytes)" + suffix + "[quillbox] WARNING: mlock(2 bytes)" +
                  suffix + "[quillbox] WARNING: mlock(3 bytes)" + suffix + "--release--\n");
}

TEST(MemoryLock, EmptyValueIsLockedWithoutASystemCall) {
    const auto outcome = run_in_child([] {
        forbid_memory_locking();  // any real mlock call would now warn
        SecretBytes empty;
        return empty.lock_into_memory() && empty.locked_into_memory() ? 0 : 1;
    });
    EXPECT_EQ(outcome.exit_code, 0);
    EXPECT_EQ(outcome.stderr_text, "");
}

TEST(MemoryLock, ALockedBufferIsWipedBeforeItIsFreedAndGrowsIntoLockedMemory) {
    std::optional<SecretBytes> value(std::in_place, "first-secret");
    ASSERT_TRUE(value->lock_into_memory());
    {
        testing::ReleaseWatch moved_away(value->data());
        value->resize(5000);  // spans whole pages, so the advice is given too
        ASSERT_TRUE(moved_away.released());
        EXPECT_TRUE(moved_away.was_zero_when_released());
    }
    EXPECT_TRUE(value->locked_into_memory());
    EXPECT_EQ(value->view().substr(0, 12), "first-secret");
    testing::ReleaseWatch released(value->data());
    value.reset();
    ASSERT_TRUE(released.released());
    EXPECT_TRUE(released.was_zero_when_released());
}

}  // namespace
}  // namespace quillbox
