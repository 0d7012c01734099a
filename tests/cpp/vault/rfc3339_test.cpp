#include "vault/rfc3339.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
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

TEST(Rfc3339, ParsesEveryAcceptedForm) {
    struct Case {
        std::string text;
        WallTime time;
    };
    const WallTime midnight(kNewYear2020);
    const std::vector<Case> cases = {
        {"2020-01-01T00:00:00Z", midnight},
        {"2020-01-01t00:00:00z", midnight},
        {"2020-01-01 00:00:00+00:00", midnight},
        {"2020-01-01T01:30:00+01:30", midnight},
        {"2019-12-31T19:00:00-05:00", midnight},
        {"2020-01-01T00:00:00.5Z", midnight + milliseconds(500)},
        {"2020-01-01T00:00:00.123456789123Z", midnight + nanoseconds(123456789)},
        {"2019-12-31T23:59:60Z", midnight - seconds(1)},
        {format_rfc3339_utc(midnight + nanoseconds(42)), midnight + nanoseconds(42)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<WallTime> parsed = parse_rfc3339(c.text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(*parsed, c.time);
    }
}

// The clock counts nanoseconds in 64 bits, from 1677-09-21T00:12:43.145224192Z
// to 2262-04-11T23:47:16.854775807Z; its first and last instants format and
// parse back without overflow.
TEST(Rfc3339, HandlesTheEndsOfTheClocksRange) {
    const std::vector<std::pair<WallTime, std::string>> cases = {
        {WallTime::min(), "1677-09-21T00:12:43.145224192+00:00"},
        {WallTime::max(), "2262-04-11T23:47:16.854775807+00:00"},
    };
    for (const auto& [time, text] : cases) {
        EXPECT_EQ(format_rfc3339_utc(time), text);
        EXPECT_EQ(parse_rfc3339(text), time) << text;
    }
}

// Years that RFC 3339 allows but the clock cannot count are refused like
// malformed text, never wrapped into another time.
TEST(Rfc3339, RefusesTimesBeyondTheClocksRange) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0000-01-01T00:00:00Z", false},           {"1677-09-21T00:12:43.145224191Z", false},
        {"1677-09-21T01:12:44+01:00", true},  // 00:12:44 UTC
        {"2262-04-11T22:47:16-01:00", true},  // 23:47:16 UTC
        {"2262-04-11T23:47:16.854775808Z", false}, {"9999-12-31T23:59:59Z", false},
    };
    for (const auto& [text, accepted] : cases) {
        EXPECT_EQ(parse_rfc3339(text).has_value(), accepted) << text;
    }
}

TEST(Rfc3339, RefusesMalformedTimestamps) {
    for (const char* text : {
             "",
             "2020-01-01",
             "2020-01-01T00:00:00",       // no offset
             "2020-01-01T00:00:00+0000",  // offset without colon
             "2020-1-01T00:00:00Z",       // short month
             "2020-13-01T00:00:00Z",      // month 13
             "2021-02-29T00:00:00Z",      // not a leap year
             "2020-01-01T24:00:00Z",      // hour 24
             "2020-01-01T00:60:00Z",      // minute 60
             "2020-01-01T00:00:61Z",      // second 61
             "2020-01-01T00:00:00.Z",     // empty fraction
             "2020-01-01X00:00:00Z",      // bad separator
             "2020-01-01T00:00:00Z trailing",
             " 2020-01-01T00:00:00Z",
         }) {
        EXPECT_FALSE(parse_rfc3339(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace quillbox
