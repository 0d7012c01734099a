// The pattern matcher against the leftmost-first definition, on fuzz-chosen
// patterns and limits and texts built from pieces of the patterns.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "redact/pattern_matcher.hpp"
#include "support/fuzz_check.hpp"
#include "support/leftmost_first.hpp"
#include "support/text_pieces.hpp"

namespace {

using quillbox::fuzzing::fuzz_check;

quillbox::PatternMatcherOptions options_from(FuzzedDataProvider& input) {
    quillbox::PatternMatcherOptions options;
    if (input.ConsumeBool())
        options.max_patterns = input.ConsumeIntegralInRange<std::size_t>(0, 16);
    if (input.ConsumeBool()) {
        options.max_pattern_bytes = input.ConsumeIntegralInRange<std::size_t>(1, 64);
    }
    return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const quillbox::PatternMatcherOptions options = options_from(input);
    std::vector<std::string> patterns(input.ConsumeIntegralInRange<std::size_t>(1, 12));
    for (std::string& pattern : patterns) pattern = input.ConsumeRandomLengthString(16);
    const std::vector<std::string_view> views(patterns.begin(), patterns.end());

    const auto matcher = quillbox::PatternMatcher::build(views, options);
    bool has_empty = false;
    for (const std::string& pattern : patterns) has_empty = has_empty || pattern.empty();
    if (patterns.size() > options.max_patterns || has_empty) {
        fuzz_check(!matcher, "too many patterns or an empty one are refused");
        return 0;
    }
    std::size_t pattern_bytes = 0;
    for (const std::string& pattern : patterns) pattern_bytes += pattern.size();
    if (!matcher) {
        fuzz_check(pattern_bytes > options.max_pattern_bytes,
                   "a build fails only when the patterns hold too many bytes");
        return 0;
    }

    const std::string text = quillbox::fuzzing::text_from_pieces(input, patterns);
    const auto ours = [&](std::string_view haystack, std::size_t from) {
        return matcher->find(haystack, from);
    };
    const auto oracle = [&](std::string_view haystack, std::size_t from) {
        return quillbox::testing::leftmost_first_find(patterns, haystack, from);
    };
    fuzz_check(
        quillbox::testing::all_matches(ours, text) == quillbox::testing::all_matches(oracle, text),
        "the matches are the leftmost-first ones");
    // Searches that start inside a match or between matches agree too.
    for (std::size_t from = 0; from <= text.size(); from += 1 + from / 8) {
        const auto found = ours(text, from);
        const auto expected = oracle(text, from);
        fuzz_check(found.has_value() == expected.has_value() &&
                       (!found || (found->pattern == expected->pattern &&
                                   found->start == expected->start && found->end == expected->end)),
                   "a search from any offset finds the leftmost-first match");
    }
    return 0;
}
