#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "redact/pattern_matcher.hpp"
#include "redact/rolling_hash.hpp"
#include "redact/secret_patterns.hpp"
#include "redact/text_end.hpp"

namespace quillbox {

// A pattern that a text holds, found by its head and checked whole.
struct HeldPattern {
    std::size_t pattern;
    std::size_t start;
    std::size_t end;
    // Whether the text ends inside the pattern rather than holding all of it.
    bool unfinished;
};

// What a search over one text keeps to check long patterns in it.
class LongPatternSearch {
public:
    explicit LongPatternSearch(std::string_view text) : text_(text) {}

private:
    friend class LongPatterns;
    std::string_view text_;
    PrefixHashes prefixes_;
};

// The patterns that the matcher holds only the head of, the first
// `head_length` bytes, and what it takes to check the rest where a head is
// found: each such pattern written whole, once, with its hash, and the other
// patterns with the same head, which the matcher drops in favour of the
// first. A pattern byte for byte equal to an earlier one with the same head is
// dropped too: the earlier one wins wherever both match.
//
// A check costs the same whatever the pattern's length: the hashes of the
// pattern and of the text where it would lie are compared, and the bytes only
// where they agree, which for a whole pattern means that the text holds it
// there, so the search goes on after it. A check of a text that ends inside a
// pattern compares with the hash of the pattern's start of that length.
class LongPatterns {
public:
    LongPatterns() = default;
    // `entries` and `outside` are the secrets the patterns were listed from.
    LongPatterns(const SecretList& entries, const SecretList& outside,
                 const SecretPatterns& patterns, std::size_t head_length);

    // Whether the matcher holds all of the pattern.
    bool is_whole(std::size_t pattern) const { return full_lengths_[pattern] <= head_length_; }

    // Where the matcher has found the head of a pattern it does not hold
    // whole at `start` of the search's text: the first pattern in build order
    // that the text holds whole there, if any, or else, when
    // `unfinished_wanted`, the first that the text ends inside of. Of a text
    // that may go on, the first that it holds whole or ends inside of, since
    // bytes yet to come may finish it.
    std::optional<HeldPattern> held_at(const PatternMatcher& matcher, LongPatternSearch& search,
                                       std::size_t start, TextEnd end,
                                       bool unfinished_wanted) const;

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // A pattern the matcher holds the head of, written whole.
    struct WrittenForm {
        SecretBytes bytes;
        std::uint64_t hash;
        PrefixHashes prefixes;
    };

    std::string_view head_of(const SecretPatterns& patterns, std::uint32_t pattern) const {
        return patterns.head(pattern).substr(0, head_length_);
    }
    // Writes the long patterns of a group whose heads hash alike, sorted by
    // head and in build order among the same head, and links each to the next
    // with the same head.
    void link_same_heads(const SecretList& entries, const SecretList& outside,
                         const SecretPatterns& patterns, std::span<const std::uint32_t> group);
    // The patterns to check at `start`, in build order.
    std::vector<std::size_t> candidates_at(const PatternMatcher& matcher, std::string_view text,
                                           std::size_t start) const;
    // Whether `text` from `start` on holds all of `form` (whole), or is all a
    // start of it.
    bool holds_whole(const WrittenForm& form, LongPatternSearch& search, std::size_t start) const;
    bool ends_inside(const WrittenForm& form, LongPatternSearch& search, std::size_t start) const;

    std::size_t head_length_ = 0;
    std::vector<std::size_t> full_lengths_;
    // The next pattern in build order with the same head, or kNone.
    std::vector<std::uint32_t> next_with_same_head_;
    // Each pattern's place in forms_, for those longer than their head, or kNone.
    std::vector<std::uint32_t> form_of_;
    std::vector<WrittenForm> forms_;
    RangeHasher hasher_ = RangeHasher::drawn();
};

}  // namespace quillbox
