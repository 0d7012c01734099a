#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/core_error_printer.hpp"
#include "support/vault_test_support.hpp"
#include "vault/lockfile.hpp"
#include "vault/sibling_path.hpp"
#include "vault/temporary_name.hpp"

namespace quillbox {
namespace {

TEST(HelperPaths, SitNextToTheTargetOrFallBackToVault) {
    struct Case {
        std::string target;
        std::string lockfile;
    };
    const std::vector<Case> cases = {
        {"/data/v.bin", "/data/v.bin.lock"},
        {"vault.bin", "vault.bin.lock"},
        {"dir/vault.bin/", "dir/vault.bin.lock"},
        {"dir/vault.bin/.", "dir/vault.bin.lock"},
        {"", "vault.lock"},
        {"/", "/vault.lock"},
        {"dir/..", "dir/../vault.lock"},
        // An invalid byte in the name becomes U+FFFD.
        {"/d/a\xff"
         "b",
         "/d/a\uFFFD"
         "b.lock"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(lockfile_path(c.target).native(), c.lockfile);
    }
    EXPECT_EQ(sibling_path("/data/vault.bin", ".tmp.4242").native(), "/data/vault.bin.tmp.4242");
    EXPECT_EQ(sibling_path("/", ".tmp.4242").native(), "/vault.tmp.4242");
}

// A temporary name is the target's, ".tmp.", the writer's process ID, and 64
// bits of the random source in hex.
TEST(HelperPaths, TemporaryNamesCarryThePidAndSixteenRandomHexDigits) {
    const std::string pid = std::to_string(::getpid());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/data/vault.bin", "/data/vault.bin.tmp." + pid + ".0123456789abcdef"},
        {"/", "/vault.tmp." + pid + ".0123456789abcdef"},
    };
    for (const auto& [target, temporary] : cases) {
        const Result<std::filesystem::path> path = new_temporary_path(
            target, testing::fixed_random(testing::from_hex("0123456789abcdef")));
        ASSERT_TRUE(path) << path.error().to_text();
        EXPECT_EQ(path->native(), temporary);
    }
}

// Writers whose process IDs are alike, in one PID namespace or in several,
// never share a name.
TEST(HelperPaths, TemporaryNamesAreNeverTheSameTwice) {
    std::set<std::filesystem::path> names;
    for (int i = 0; i < 1000; ++i) {
        const Result<std::filesystem::path> path = new_temporary_path("/data/vault.bin");
        ASSERT_TRUE(path) << path.error().to_text();
        EXPECT_TRUE(names.insert(*path).second) << *path;
    }
}

TEST(HelperPaths, WithoutRandomnessThereIsNoTemporaryName) {
    const RandomSource failing = [](std::span<unsigned char>) -> Status {
        return fail(errors::IoMessage{"RNG fill failed"});
    };
    const Result<std::filesystem::path> path = new_temporary_path("/data/vault.bin", failing);
    ASSERT_FALSE(path);
    EXPECT_EQ(path.error(), CoreError(errors::IoMessage{"RNG fill failed"}));
}

// A sweep considers only names of the form it could have made for its target.
TEST(HelperPaths, TemporaryNamesAreRecognisedInTheirOwnFormOnly) {
    const TemporaryNames names("/data/vault.bin");
    EXPECT_EQ(names.directory().native(), "/data");
    EXPECT_EQ(TemporaryNames("vault.bin").directory().native(), ".");
    const std::vector<std::pair<std::string, bool>> cases = {
        {"vault.bin.tmp.4242.0123456789abcdef", true},
        {"vault.bin.tmp.1.ffffffffffffffff", true},
        {"vault.bin.tmp.4242", false},
        {"vault.bin.tmp.notapid", false},
        {"vault.bin.tmp..0123456789abcdef", false},
        {"vault.bin.tmp.42x.0123456789abcdef", false},
        {"vault.bin.tmp.4242.0123456789ABCDEF", false},
        {"vault.bin.tmp.4242.0123456789abcde", false},
        {"vault.bin.tmp.4242.0123456789abcdef0", false},
        {"vault.bin.tmp.4242.0123456789abcdef.x", false},
        {"other.bin.tmp.4242.0123456789abcdef", false},
        {"vault.bin", false},
        {"vault.bin.lock", false},
    };
    for (const auto& [name, matches] : cases) EXPECT_EQ(names.matches(name), matches) << name;
}

}  // namespace
}  // namespace quillbox
