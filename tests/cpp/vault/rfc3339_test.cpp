#include "vault/rfc3339.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillbox {
namespace {

using namespace std::chrono;

// 2020-01-01T00:00:00Z
constexpr sys_days kNewYear2020 = sys_days(year(2020) / January / 1);

TEST(Rfc3339, FormatsUtcWithTheShortestExactFraction) {
    struct Case {
        WallTime time;
        std::string text;
    };
    const std::vector<Case> cases = {
        {WallTime(kNewYear2020), "2020-01-01T00:00:00+00:00"},
        {WallTime(kNewYear2020) + hours(13) + minutes(4) + seconds(5) + milliseconds(500),
         "2020-01-01T13:04:05.500+00:00"},
        {WallTime(kNewYear2020) + microseconds(123456), "2020-01-01T00:00:00.123456+00:00"},
        {WallTime(kNewYear2020) + nanoseconds(1), "2020-01-01T00:00:00.000000001+00:00"},
        {WallTime(sys_days(year(2024) / February / 29)) + seconds(86399),
         "2024-02-29T23:59:59+00:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(format_rfc3339_utc(c.time), c.text);
}

// The clock counts nanoseconds in 64 bits, from 1677-09-21T00:12:43.145224192Z
// to 2262-04-11T23:47:16.854775807Z; its first and last instants format
// without overflow.
TEST(Rfc3339, FormatsTheEndsOfTheClocksRange) {
    EXPECT_EQ(format_rfc3339_utc(WallTime::min()), "1677-09-21T00:12:43.145224192+00:00");
    EXPECT_EQ(format_rfc3339_utc(WallTime::max()), "2262-04-11T23:47:16.854775807+00:00");
}

}  // namespace
}  // namespace quillbox
