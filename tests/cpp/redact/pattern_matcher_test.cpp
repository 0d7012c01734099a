#include "redact/pattern_matcher.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/core_error_printer.hpp"
#include "support/leftmost_first.hpp"

namespace quillbox {
namespace {

using testing::all_matches;
using testing::LeftmostFirstMatch;
using testing::UnfinishedMatch;

TEST(PatternMatcher, FixedCases) {
    struct Case {
        std::vector<std::string> patterns;
        std::string haystack;
        std::vector<LeftmostFirstMatch> expected;
    };
    const std::vector<Case> cases = {
        // A shorter pattern added first wins over a longer one at the same start.
        {{"abc", "abcdef"}, "abcdef", {{0, 0, 3}}},
        {{"abcdef", "abc"}, "abcdef", {{0, 0, 6}}},
        // A longer pattern added first, absent from the text, yields to the shorter one.
        {{"abcdef", "abc"}, "abcdex", {{1, 0, 3}}},
        // The earliest start wins even over a lower pattern number.
        {{"bc", "abcd"}, "xabcd", {{1, 1, 5}}},
        {{"bcd", "ab"}, "abcd", {{1, 0, 2}}},
        // A pending longer match that fails falls back to a later-starting one.
        {{"abcd", "b"}, "abce", {{1, 1, 2}}},
        {{"abcd", "bc", "c"}, "abcxc", {{1, 1, 3}, {2, 4, 5}}},
        // Matches do not overlap.
        {{"aa"}, "aaa", {{0, 0, 2}}},
        {{"x"}, "xxyx", {{0, 0, 1}, {0, 1, 2}, {0, 3, 4}}},
        // Duplicate patterns: the first one is reported.
        {{"ab", "ab"}, "ab", {{0, 0, 2}}},
        // Byte-wise: bytes above 0x7F and NUL are ordinary bytes.
        {{std::string("\xC3\xA9", 2), std::string("\0b", 2)},
         std::string("a\xC3\xA9\0b", 5),
         {{0, 1, 3}, {1, 3, 5}}},
        {{"Secret"}, "secret", {}},
        // Every start holds the first 50 bytes of a pattern and fails on the last.
        {{std::string(50, 'a') + "b", "c"},
         std::string(3000, 'a') + "bc",
         {{0, 2950, 3001}, {1, 3001, 3002}}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string_view> views(c.patterns.begin(), c.patterns.end());
        const auto matcher = PatternMatcher::build(views);
        ASSERT_TRUE(matcher.has_value());
        const auto find = [&](std::string_view h, std::size_t from) {
            return matcher->find(h, from);
        };
        EXPECT_EQ(all_matches(find, c.haystack), c.expected) << "haystack " << c.haystack;
    }
}

struct RandomShape {
    const char* name;
    std::size_t min_pattern_length;
    std::size_t max_pattern_length;
    std::size_t max_text_length;
};

void PrintTo(const RandomShape& shape, std::ostream* out) {
    *out << shape.name;
}

class PatternMatcherRandom : public ::testing::TestWithParam<RandomShape> {};

// Small alphabets make overlaps, shared prefixes, same-start ties and runs of
// patterns with the same first 8 bytes frequent; long patterns bring in the
// skip filter, whose window stops at 64 bytes.
TEST_P(PatternMatcherRandom, AgreesWithBruteForce) {
    const RandomShape shape = GetParam();
    std::mt19937 random(20261210);
    const auto pick = [&](std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(random);
    };
    for (int round = 0; round < 2000; ++round) {
        const std::string alphabet = round % 3 == 0 ? "ab" : (round % 3 == 1 ? "abc" : "ab\xFF");
        const auto random_string = [&](std::size_t min_length, std::size_t max_length) {
            std::string text(pick(min_length, max_length), ' ');
            for (char& c : text) c = alphabet[pick(0, alphabet.size() - 1)];
            return text;
        };
        std::vector<std::string> patterns(pick(1, 8));
        for (std::string& pattern : patterns) {
            pattern = random_string(shape.min_pattern_length, shape.max_pattern_length);
        }
        // Texts mix random bytes with whole patterns and pieces of them.
        const auto random_haystack = [&] {
            std::string text;
            const std::size_t length = pick(0, shape.max_text_length);
            while (text.size() < length) {
                const std::string& pattern = patterns[pick(0, patterns.size() - 1)];
                const std::size_t start = pick(0, pattern.size() - 1);
                switch (pick(0, 2)) {
                    case 0: text += random_string(1, 6); break;
                    case 1: text += pattern; break;
                    default: text += pattern.substr(start, pick(1, pattern.size() - start));
                }
            }
            return text;
        };
        const std::vector<std::string_view> views(patterns.begin(), patterns.end());
        const auto matcher = PatternMatcher::build(views);
        ASSERT_TRUE(matcher.has_value());
        for (int text_round = 0; text_round < 5; ++text_round) {
            const std::string haystack = random_haystack();
            const auto ours = [&](std::string_view h, std::size_t from) {
                return matcher->find(h, from);
            };
            const auto oracle = [&](std::string_view h, std::size_t from) {
                return testing::leftmost_first_find(patterns, h, from);
            };
            const std::vector<LeftmostFirstMatch> matches = all_matches(ours, haystack);
            ASSERT_EQ(matches, all_matches(oracle, haystack))
                << "round " << round << " haystack " << haystack;
            // After the last match, the text may end in the start of a pattern.
            const std::size_t last_end = matches.empty() ? 0 : matches.back().end;
            const auto unfinished = matcher->unfinished_match(haystack, last_end);
            ASSERT_EQ(unfinished
                          ? std::optional(UnfinishedMatch{unfinished->pattern, unfinished->length})
                          : std::nullopt,
                      testing::longest_unfinished_match(patterns, haystack, last_end))
                << "round " << round << " haystack " << haystack;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, PatternMatcherRandom,
                         ::testing::Values(RandomShape{"Short", 1, 6, 40},
                                           RandomShape{"AroundKeyLength", 5, 12, 120},
                                           RandomShape{"Long", 8, 14, 300},
                                           RandomShape{"BeyondFilterWindow", 60, 80, 600}),
                         [](const auto& info) { return std::string(info.param.name); });

// Enough patterns for the build to sort them by radix: numbers of one to six
// digits after a common head, so that many begin others, many share their
// first 8 bytes, and some repeat.
TEST(PatternMatcher, ManyPatternsAgreeWithBruteForce) {
    std::vector<std::string> patterns;
    for (std::size_t index = 0; index < 70000; ++index) {
        patterns.push_back("key-" + std::to_string(index * 7919 % 90001));
    }
    const std::vector<std::string_view> views(patterns.begin(), patterns.end());
    const auto matcher = PatternMatcher::build(views);
    ASSERT_TRUE(matcher.has_value());
    const std::string haystack = "a key-1 and key-123456, key-89999x key-7key-90000 key-";
    const auto ours = [&](std::string_view h, std::size_t from) { return matcher->find(h, from); };
    const auto oracle = [&](std::string_view h, std::size_t from) {
        return testing::leftmost_first_find(patterns, h, from);
    };
    EXPECT_EQ(all_matches(ours, haystack), all_matches(oracle, haystack));
    const auto unfinished = matcher->unfinished_match(haystack, 0);
    ASSERT_TRUE(unfinished.has_value());
    EXPECT_EQ(UnfinishedMatch(unfinished->pattern, unfinished->length),
              testing::longest_unfinished_match(patterns, haystack, 0));
}

TEST(PatternMatcher, RefusesEmptyPatternsAndExhaustedLimits) {
    const auto build_failed = [](std::string reason) {
        return CoreError(errors::AutomatonBuildFailed{std::move(reason)});
    };
    const std::vector<std::string_view> with_empty{"a", ""};
    EXPECT_EQ(PatternMatcher::build(with_empty).error(), build_failed("pattern 1 is empty"));

    const std::vector<std::string_view> patterns{"abc", "abd", "xyz"};
    EXPECT_EQ(PatternMatcher::build(patterns, {.max_patterns = 2}).error(),
              build_failed("too many patterns: 3 exceeds the limit of 2"));
    EXPECT_TRUE(
        PatternMatcher::build(patterns, {.max_patterns = 3, .max_pattern_bytes = 9}).has_value());
    EXPECT_EQ(
        PatternMatcher::build(patterns, {.max_patterns = 3, .max_pattern_bytes = 8}).error(),
        build_failed("too many pattern bytes: the patterns hold 9, more than the limit of 8"));
}

}  // namespace
}  // namespace quillbox
