#include "core/secret_bytes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <string_view>

#include "support/process_status.hpp"
#include "support/release_watch.hpp"

namespace quillbox {
namespace {

using testing::ReleaseWatch;

TEST(SecretBytes, ReleaseZerosEveryByteWrittenBeforeFreeingIt) {
    std::optional<SecretBytes> secret(std::in_place, "correct horse battery staple");
    secret->reserve(200);
    // Written but never taken into use, as a read into spare room leaves it.
    const std::span<unsigned char> room = secret->room_to_append(172);
    std::fill(room.begin(), room.end(), 'x');
    secret->commit_appended(4);
    ReleaseWatch watch(secret->data());
    secret.reset();
    ASSERT_TRUE(watch.released());
    EXPECT_EQ(watch.released_size(), 200u);
    EXPECT_TRUE(watch.was_zero_when_released());
}

TEST(SecretBytes, GrowingWipesTheOldAllocation) {
    SecretBytes secret("0123456789");
    ReleaseWatch watch(secret.data());
    secret.append(std::string(100, 'x'));
    ASSERT_TRUE(watch.released());
    EXPECT_TRUE(watch.was_zero_when_released());
    EXPECT_EQ(secret.view(), "0123456789" + std::string(100, 'x'));
}

TEST(SecretBytes, WipeEmptiesAndZerosButKeepsTheAllocation) {
    SecretBytes secret("token");
    secret.reserve(64);
    secret.resize(64);
    secret.resize(5);
    const unsigned char* storage = secret.data();
    secret.wipe();
    EXPECT_EQ(secret.size(), 0u);
    EXPECT_EQ(secret.capacity(), 64u);
    for (std::size_t i = 0; i < secret.capacity(); ++i) ASSERT_EQ(storage[i], 0) << i;
}

TEST(SecretBytes, DropFrontLeavesNoCopyOfTheMovedBytes) {
    SecretBytes secret("0123456789");
    secret.drop_front(6);
    EXPECT_EQ(secret.view(), "6789");
    // Where the last bytes stood before they moved down, zeros remain.
    EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(secret.data()), 10),
              std::string_view("6789\0\0\0\0\0\0", 10));
    secret.drop_front(4);
    EXPECT_TRUE(secret.empty());
}

TEST(SecretBytes, ReleaseFromKeepsTheFrontAndGivesBackTheRestAtOnce) {
    constexpr std::size_t kSize = 64 << 20;
    SecretBytes secret;
    secret.resize(kSize);
    std::fill_n(secret.data(), kSize, 'x');
    const std::size_t resident_before_kib = testing::process_status_kib("VmRSS");
    secret.release_from(1 << 20);
    // Nearly all of the 63 MiB cut off have left memory at once.
    EXPECT_GE(resident_before_kib - testing::process_status_kib("VmRSS"), std::size_t{60} << 10);
    EXPECT_EQ(secret.view(), std::string(1 << 20, 'x'));
    EXPECT_EQ(secret.capacity(), kSize);
    // What comes back into use reads as zeros, as a wiped buffer does.
    secret.resize(kSize);
    EXPECT_TRUE(std::all_of(secret.data() + (1 << 20), secret.data() + kSize,
                            [](unsigned char byte) { return byte == 0; }));
}

// What the kernel says of the mapping that holds `address`: whether its pages
// may be huge ones (the THPeligible line of /proc/self/smaps).
bool may_take_huge_pages(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto wanted = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> start >> dash >> end && dash == '-') {
            inside = start <= wanted && wanted < end;
        } else if (inside && line.starts_with("THPeligible:")) {
            return line.find('1') != std::string::npos;
        }
    }
    return false;
}

// Where huge pages come on request only (the usual setting), a large buffer
// asks for them past its first 2 MiB, and a small one never does.
TEST(SecretBytes, ALargeBufferAsksForHugePagesPastItsFirstTwoMebibytes) {
    std::ifstream mode_file("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string mode;
    std::getline(mode_file, mode);
    if (mode.find("[madvise]") == std::string::npos) {
        GTEST_SKIP() << "huge pages are not made on request here: " << mode;
    }
    SecretBytes large;
    large.reserve(std::size_t{16} << 20);
    EXPECT_FALSE(may_take_huge_pages(large.data()));
    EXPECT_TRUE(may_take_huge_pages(large.data() + (std::size_t{8} << 20)));
    SecretBytes small;
    small.reserve(std::size_t{3} << 20);
    EXPECT_FALSE(may_take_huge_pages(small.data() + (std::size_t{5} << 19)));
}

TEST(SecretBytes, MovesTransferOwnershipAndClonesAreIndependent) {
    SecretBytes original("value");
    SecretBytes copy = original.clone();
    SecretBytes moved = std::move(original);
    EXPECT_TRUE(original.empty());  // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_EQ(original.capacity(), 0u);
    EXPECT_EQ(moved.view(), "value");
    copy.wipe();
    EXPECT_EQ(moved.view(), "value");
}

}  // namespace
}  // namespace quillbox
