#include "vault/file_identity.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quillbox {
namespace {

using namespace std::chrono_literals;

// A file last written at 2024-05-01T12:00:00Z.
struct stat file_metadata() {
    struct stat metadata{};
    metadata.st_dev = 7;
    metadata.st_ino = 4242;
    metadata.st_size = 170;
    metadata.st_mtim = timespec{.tv_sec = 1714564800, .tv_nsec = 5};
    metadata.st_ctim = metadata.st_mtim;
    return metadata;
}

constexpr WallTime kWritten{std::chrono::seconds(1714564800) + std::chrono::nanoseconds(5)};

TEST(FileIdentity, TimesSettleOnlyPastTheMargin) {
    EXPECT_FALSE(identify_file(file_metadata(), kWritten).settled);
    EXPECT_FALSE(identify_file(file_metadata(), kWritten + kTimestampMargin).settled);
    EXPECT_TRUE(identify_file(file_metadata(), kWritten + kTimestampMargin + 1ns).settled);
    // A change time that moved on after the write keeps the file new.
    struct stat changed_later = file_metadata();
    changed_later.st_ctim.tv_sec += 10;
    EXPECT_FALSE(identify_file(changed_later, kWritten + kTimestampMargin + 1ns).settled);
}

TEST(FileIdentity, AnyFieldThatDiffersIsAnotherFile) {
    struct Case {
        std::string what;
        std::function<void(struct stat&)> change;
    };
    const std::vector<Case> cases = {
        {"device", [](struct stat& m) { m.st_dev += 1; }},
        {"inode", [](struct stat& m) { m.st_ino += 1; }},
        {"size", [](struct stat& m) { m.st_size += 1; }},
        {"modified", [](struct stat& m) { m.st_mtim.tv_nsec += 1; }},
        {"changed", [](struct stat& m) { m.st_ctim.tv_sec += 1; }},
    };
    const FileIdentity settled = identify_file(file_metadata(), kWritten + 1h);
    const FileIdentity recent = identify_file(file_metadata(), kWritten);
    EXPECT_EQ(match_file(settled, file_metadata()), FileMatch::Same);
    EXPECT_EQ(match_file(recent, file_metadata()), FileMatch::Unsure);
    EXPECT_EQ(match_file(std::nullopt, file_metadata()), FileMatch::Different);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        struct stat now = file_metadata();
        c.change(now);
        EXPECT_EQ(match_file(settled, now), FileMatch::Different);
        EXPECT_EQ(match_file(recent, now), FileMatch::Different);
        // A change time alone moves without a write.
        EXPECT_EQ(unwritten_since(settled, now), c.what == "changed");
    }
    EXPECT_FALSE(unwritten_since(std::nullopt, file_metadata()));
}

}  // namespace
}  // namespace quillbox
