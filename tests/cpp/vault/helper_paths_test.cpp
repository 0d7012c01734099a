#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vault/lockfile.hpp"
#include "vault/sibling_path.hpp"

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

}  // namespace
}  // namespace quillbox
