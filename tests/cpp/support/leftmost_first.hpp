#pragma once

#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillbox::testing {

struct LeftmostFirstMatch {
    std::size_t pattern;
    std::size_t start;
    std::size_t end;

    bool operator==(const LeftmostFirstMatch&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LeftmostFirstMatch& match) {
    return out << "pattern " << match.pattern << " at [" << match.start << ", " << match.end << ")";
}

// Leftmost-first by definition: the first start at or after `from` at which
// any pattern matches, and there the first pattern in order. Empty patterns
// never match. Slow on purpose: it is the reference the matchers are checked
// against.
inline std::optional<LeftmostFirstMatch> leftmost_first_find(std::span<const std::string> patterns,
                                                             std::string_view haystack,
                                                             std::size_t from) {
    for (std::size_t start = from; start < haystack.size(); ++start) {
        for (std::size_t index = 0; index < patterns.size(); ++index) {
            const std::string& pattern = patterns[index];
            if (!pattern.empty() && haystack.substr(start).starts_with(pattern)) {
                return LeftmostFirstMatch{index, start, start + pattern.size()};
            }
        }
    }
    return std::nullopt;
}

struct UnfinishedMatch {
    std::size_t pattern;
    std::size_t length;

    bool operator==(const UnfinishedMatch&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const UnfinishedMatch& unfinished) {
    return out << "pattern " << unfinished.pattern << " begun by the last " << unfinished.length
               << " bytes";
}

// The longest end of the text, from `from` on, that some pattern begins
// without being complete in it, and the first pattern that begins so.
inline std::optional<UnfinishedMatch> longest_unfinished_match(
    std::span<const std::string> patterns, std::string_view haystack, std::size_t from) {
    for (std::size_t start = from; start < haystack.size(); ++start) {
        const std::string_view end = haystack.substr(start);
        for (std::size_t index = 0; index < patterns.size(); ++index) {
            if (patterns[index].size() > end.size() && patterns[index].starts_with(end)) {
                return UnfinishedMatch{index, end.size()};
            }
        }
    }
    return std::nullopt;
}

// Every match of successive searches, each resuming just after the previous
// match, so matches never overlap. `find(haystack, from)` returns an optional
// match with `pattern`, `start` and `end`.
template <typename Find>
std::vector<LeftmostFirstMatch> all_matches(const Find& find, std::string_view haystack) {
    std::vector<LeftmostFirstMatch> found;
    std::size_t offset = 0;
    while (const auto match = find(haystack, offset)) {
        found.push_back({match->pattern, match->start, match->end});
        offset = match->end;
    }
    return found;
}

}  // namespace quillbox::testing
