#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "redact/aho_corasick.hpp"
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

// The last pattern that LongPatterns wrote whole, kept for the next check of
// the same pattern within one text.
class WrittenPattern {
public:
    std::string_view of(std::size_t pattern, std::string_view value, PatternSource source);

private:
    std::optional<std::size_t> pattern_;
    SecretBytes bytes_;
};

// The patterns that the matcher holds only the head of, the first
// `head_length` bytes, and what it takes to check the rest where a head is
// found: each such pattern's secret, to write it whole again, and the other
// patterns with the same head, which the matcher drops in favour of the
// first.
class LongPatterns {
public:
    LongPatterns() = default;
    // `entries` and `outside` are the secrets the patterns were listed from.
    LongPatterns(const SecretList& entries, const SecretList& outside,
                 const SecretPatterns& patterns, std::size_t head_length);

    // Whether the matcher holds all of the pattern.
    bool is_whole(std::size_t pattern) const { return full_lengths_[pattern] <= head_length_; }

    // Where the matcher has found the head of a pattern it does not hold
    // whole at `start`: the first pattern in build order that the text holds
    // whole there, if any, or else the first that the text ends inside of.
    // Of a text that may go on, the first that it holds whole or ends inside
    // of, since bytes yet to come may finish it.
    std::optional<HeldPattern> held_at(const AhoCorasick& matcher, std::string_view text,
                                       std::size_t start, WrittenPattern& written,
                                       TextEnd end) const;

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // The patterns to check at `start`, in build order.
    std::vector<std::size_t> candidates_at(const AhoCorasick& matcher, std::string_view text,
                                           std::size_t start) const;

    std::size_t head_length_ = 0;
    std::vector<std::size_t> full_lengths_;
    std::vector<PatternSource> sources_;
    // The next pattern in build order with the same head, or kNone.
    std::vector<std::uint32_t> next_with_same_head_;
    // The values of the secrets that gave a pattern longer than its head, by
    // the secret's number; the others are empty.
    std::vector<SecretBytes> values_;
};

}  // namespace quillbox
