#include "sandbox/denials.hpp"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

TEST(Denials, CoverAPathTheFilesNamedAfterAFileAndWhatLiesBeneath) {
    Denials denials;
    denials.add("/srv/backups");
    denials.add_family("/work/project", "team.vault");
    struct Case {
        const char* path;
        bool covered;
    };
    const Case cases[] = {
        {"/srv/backups", true},
        {"/srv/backups/monday/team.vault", true},
        {"/srv/backups-old", false},
        {"/srv", false},
        {"/work/project/team.vault", true},
        {"/work/project/team.vault.lock", true},
        {"/work/project/team.vault.tmp.812.00ff00ff00ff00ff", true},
        {"/work/project/team.vault.d/copy", true},
        {"/work/project/team.vaul", false},
        {"/work/project/src/team.vault", false},
        {"/work/project", false},
        {"/work", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(denials.covers(c.path), c.covered);
    }
}

TEST(Denials, LieBeneathTheFoldersThatHoldThem) {
    Denials denials;
    denials.add("/srv/backups");
    denials.add_family("/work/project", "team.vault");
    for (const char* holder : {"/", "/srv", "/work", "/work/project"}) {
        SCOPED_TRACE(holder);
        EXPECT_TRUE(denials.lie_beneath(holder));
    }
    for (const char* clear : {"/srv/backups", "/srv/backups/monday", "/work/project/src", "/usr"}) {
        SCOPED_TRACE(clear);
        EXPECT_FALSE(denials.lie_beneath(clear));
    }
}

TEST(IsWithin, ComparesWholeComponents) {
    EXPECT_TRUE(is_within("/a/b", "/a/b"));
    EXPECT_TRUE(is_within("/a/b/c", "/a/b"));
    EXPECT_TRUE(is_within("/a", "/"));
    EXPECT_FALSE(is_within("/a/bc", "/a/b"));
    EXPECT_FALSE(is_within("/a", "/a/b"));
}

}  // namespace
}  // namespace quillbox
