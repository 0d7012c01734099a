#include "vault/lock_record.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillbox {
namespace {

using namespace std::chrono;

const WallTime kMidnight(sys_days(year(2020) / January / 1));

TEST(LockRecord, FormatsPidAndTimeOnTwoLines) {
    EXPECT_EQ(format_lock_record(4242, kMidnight + milliseconds(250)),
              "4242\n2020-01-01T00:00:00.250+00:00\n");
}

TEST(LockRecord, ParsesWhatAHolderWrites) {
    struct Case {
        std::string contents;
        std::uint32_t pid;
        std::optional<WallTime> acquired_at;
    };
    const std::vector<Case> cases = {
        {format_lock_record(4242, kMidnight), 4242, kMidnight},
        {"999999\r\n2020-01-01T00:00:00Z\r\n", 999999, kMidnight},
        {"  +17 \n\t2020-01-01T00:00:00Z  \nextra\n", 17, kMidnight},
        // Unicode white space (no-break space, ideographic space) is trimmed too.
        {"\u00A012\u3000\n2020-01-01T00:00:00Z", 12, kMidnight},
        {"4294967295\n2020-01-01T00:00:00Z\n", 4294967295u, kMidnight},
        // A second line that is no timestamp leaves the time unknown.
        {"7\nyesterday\n", 7, std::nullopt},
        {"7\n\n", 7, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contents);
        const std::optional<LockRecord> record = parse_lock_record(c.contents);
        ASSERT_TRUE(record.has_value());
        EXPECT_EQ(record->pid, c.pid);
        EXPECT_EQ(record->acquired_at, c.acquired_at);
    }
}

TEST(LockRecord, ContentsWithoutARecordAreNotOne) {
    for (const std::string contents : {
             "", "1234",
             "1234\n",  // one line only
             "\n2020-01-01T00:00:00Z\n", "12a\n2020-01-01T00:00:00Z\n",
             "-12\n2020-01-01T00:00:00Z\n", "+\n2020-01-01T00:00:00Z\n",
             "4294967296\n2020-01-01T00:00:00Z\n",  // beyond 32 bits
             "12\n2020-01-01T00:00:00Z\n\xff\n",    // not UTF-8
         }) {
        EXPECT_FALSE(parse_lock_record(contents).has_value()) << contents;
    }
}

TEST(LockRecord, AgeIsWholeSecondsTruncatedAndNeverNegative) {
    const LockRecord record{1, kMidnight};
    EXPECT_EQ(lock_record_age_secs(record, kMidnight + milliseconds(299'999)), 299u);
    EXPECT_EQ(lock_record_age_secs(record, kMidnight + seconds(301)), 301u);
    EXPECT_EQ(lock_record_age_secs(record, kMidnight - seconds(5)), 0u);
    EXPECT_EQ(lock_record_age_secs(LockRecord{1, std::nullopt}, kMidnight), 0u);
}

// The whole range of the clock spans more nanoseconds than 64 bits count.
TEST(LockRecord, AgeAcrossTheClocksWholeRangeIsExact) {
    const LockRecord oldest{1, WallTime::min()};
    // 2262-04-11T23:47:16.854775807 minus 1677-09-21T00:12:43.145224192
    EXPECT_EQ(lock_record_age_secs(oldest, WallTime::max()), 18446744073u);
    EXPECT_EQ(lock_record_age_secs(oldest, kMidnight), 10801208836u);
    EXPECT_EQ(lock_record_age_secs(LockRecord{1, WallTime::max()}, WallTime::min()), 0u);
}

}  // namespace
}  // namespace quillbox
