#include "vault/lock_record.hpp"

#include <gtest/gtest.h>

namespace quillbox {
namespace {

using namespace std::chrono;

const WallTime kMidnight(sys_days(year(2020) / January / 1));

TEST(LockRecord, FormatsPidAndTimeOnTwoLines) {
    EXPECT_EQ(format_lock_record(4242, kMidnight + milliseconds(250)),
              "4242\n2020-01-01T00:00:00.250+00:00\n");
}

}  // namespace
}  // namespace quillbox
