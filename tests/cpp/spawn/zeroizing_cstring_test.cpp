#include "spawn/zeroizing_cstring.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "core/internal_error.hpp"
#include "support/release_watch.hpp"

namespace quillbox {
namespace {

TEST(ZeroizingCString, HoldsTheBytesAndOneTerminatingNul) {
    const ZeroizingCString text("ab");
    EXPECT_STREQ(text.as_ptr(), "ab");
}

TEST(ZeroizingCString, ReleaseOverwritesEveryByteIncludingTheNul) {
    ZeroizingCString text("ab");
    testing::ReleaseWatch watch(text.as_ptr());
    text.release();
    ASSERT_TRUE(watch.released());
    EXPECT_EQ(watch.released_size(), 3u);
    EXPECT_TRUE(watch.was_zero_when_released());
}

TEST(ZeroizingCString, UseAfterReleaseIsAnInternalError) {
    ZeroizingCString text("ab");
    text.release();
    try {
        (void)text.as_ptr();
        FAIL() << "expected an internal error";
    } catch (const InternalError& error) {
        EXPECT_STREQ(error.what(), "ZeroizingCString already consumed");
        EXPECT_EQ(error.source(), "src/spawn");
    }
}

}  // namespace
}  // namespace quillbox
