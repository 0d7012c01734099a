#include "redact/long_patterns.hpp"

#include <algorithm>
#include <utility>

namespace quillbox {

std::string_view WrittenPattern::of(std::size_t pattern, std::string_view value,
                                    PatternSource source) {
    if (pattern_ != pattern) {
        bytes_.resize(0);
        append_secret_pattern(bytes_, value, source);
        pattern_ = pattern;
    }
    return bytes_.view();
}

LongPatterns::LongPatterns(const SecretList& entries, const SecretList& outside,
                           const SecretPatterns& patterns, std::size_t head_length)
    : head_length_(head_length),
      next_with_same_head_(patterns.size(), kNone),
      values_(entries.size() + outside.size()) {
    full_lengths_.reserve(patterns.size());
    sources_.reserve(patterns.size());
    // The patterns whose head is as long as the matcher's heads: those it
    // holds only the head of, and those a head may equal.
    std::vector<std::uint32_t> headed;
    for (std::uint32_t pattern = 0; pattern < patterns.size(); ++pattern) {
        full_lengths_.push_back(patterns.full_length(pattern));
        sources_.push_back(patterns.source(pattern));
        if (patterns.full_length(pattern) < head_length) continue;
        headed.push_back(pattern);
        const std::uint32_t secret = patterns.source(pattern).secret;
        if (!is_whole(pattern) && values_[secret].empty()) {
            values_[secret] = numbered_secret(entries, outside, secret).value.clone();
        }
    }
    const auto head_of = [&](std::uint32_t pattern) {
        return patterns.head(pattern).substr(0, head_length);
    };
    // By head, and in build order among the same head.
    std::ranges::sort(headed, {},
                      [&](std::uint32_t pattern) { return std::pair(head_of(pattern), pattern); });
    for (std::size_t index = 1; index < headed.size(); ++index) {
        if (head_of(headed[index - 1]) == head_of(headed[index])) {
            next_with_same_head_[headed[index - 1]] = headed[index];
        }
    }
}

std::vector<std::size_t> LongPatterns::candidates_at(const AhoCorasick& matcher,
                                                     std::string_view text,
                                                     std::size_t start) const {
    std::vector<std::size_t> candidates = matcher.patterns_at(text, start);
    const std::size_t on_path = candidates.size();
    for (std::size_t index = 0; index < on_path; ++index) {
        for (std::uint32_t next = next_with_same_head_[candidates[index]]; next != kNone;
             next = next_with_same_head_[next]) {
            candidates.push_back(next);
        }
    }
    std::ranges::sort(candidates);
    return candidates;
}

std::optional<HeldPattern> LongPatterns::held_at(const AhoCorasick& matcher, std::string_view text,
                                                 std::size_t start, WrittenPattern& written,
                                                 TextEnd end) const {
    const std::string_view rest = text.substr(start);
    std::optional<HeldPattern> unfinished;
    for (const std::size_t pattern : candidates_at(matcher, text, start)) {
        // A pattern the matcher holds whole was on the path, or equals the head.
        if (is_whole(pattern)) {
            return HeldPattern{pattern, start, start + full_lengths_[pattern], false};
        }
        const PatternSource source = sources_[pattern];
        const std::string_view whole = written.of(pattern, values_[source.secret].view(), source);
        if (rest.starts_with(whole)) {
            return HeldPattern{pattern, start, start + whole.size(), false};
        }
        if (!unfinished && whole.starts_with(rest)) {
            unfinished = HeldPattern{pattern, start, text.size(), true};
            if (end == TextEnd::Open) return unfinished;
        }
    }
    return unfinished;
}

}  // namespace quillbox
