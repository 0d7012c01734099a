#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/wiping_allocator.hpp"
#include "redact/prefix_table.hpp"
#include "redact/skip_filter.hpp"
#include "redact/start_filter.hpp"

namespace quillbox {

struct PatternMatch {
    std::size_t pattern;  // index of the pattern in build order
    std::size_t start;    // offset of the first matched byte
    std::size_t end;      // offset just past the last matched byte
};

// The end of a text that begins a pattern without completing it.
struct PatternPrefix {
    std::size_t pattern;  // the first pattern in build order that begins so
    std::size_t length;   // how many bytes at the end of the text begin it
};

struct PatternMatcherOptions {
    // Bounds on what one matcher may hold; a build that would exceed them fails.
    std::size_t max_patterns = std::size_t{1} << 24;
    std::size_t max_pattern_bytes = std::size_t{1} << 27;
};

// A multi-pattern byte matcher with leftmost-first semantics: a search reports
// the match that starts earliest, and among matches starting at the same byte
// the one whose pattern comes first in build order, even when a later pattern
// would be longer. Matching is byte for byte and unanchored.
//
// The patterns are kept sorted by their bytes, each with its parent, the
// longest pattern kept that begins it. A pattern that an earlier one begins
// (or equals) is never kept: wherever it matches, the earlier one matches at
// the same start and wins. So along a chain of parents the patterns come in
// build order, and at any start the longest pattern the text holds is the
// leftmost-first match there.
//
// A search asks a start filter where a pattern may begin, and there looks up
// the patterns that begin with the next 8 bytes, a run of the sorted list,
// in a hash table; the longest the text holds is found in that run by binary
// search and the parents of the nearest one. Building is a sort, one pass and
// the filters: no trie, so its cost grows with the patterns' number, not
// their bytes. A start costs at most a lookup, a binary search within one run
// and a comparison of the longest pattern's bytes, so a search costs time
// linear in the text, however much the text looks like the patterns.
//
// The tables spell the patterns, so they are wiped when released.
class PatternMatcher {
public:
    PatternMatcher(PatternMatcher&&) noexcept = default;
    PatternMatcher& operator=(PatternMatcher&&) noexcept = default;
    // The tables are never duplicated.
    PatternMatcher(const PatternMatcher&) = delete;
    PatternMatcher& operator=(const PatternMatcher&) = delete;

    // Fails with AutomatonBuildFailed, describing the problem, when a pattern
    // is empty or the patterns exceed the limits.
    static Result<PatternMatcher> build(std::span<const std::string_view> patterns,
                                        const PatternMatcherOptions& options = {});

    // The leftmost-first match that starts at or after `from`, if any.
    std::optional<PatternMatch> find(std::string_view haystack, std::size_t from = 0) const;

    // Every pattern kept that the text holds at `start`, longest first, so in
    // build order.
    std::vector<std::size_t> patterns_at(std::string_view haystack, std::size_t start) const;

    // The longest end of the text, from `from` on, that begins a pattern
    // longer than it, and the first such pattern in build order. Only the
    // last bytes, fewer than the longest pattern, are read.
    std::optional<PatternPrefix> unfinished_match(std::string_view haystack,
                                                  std::size_t from) const;

    // The first position in [from, before) from which the rest of the text
    // begins (or is) a pattern: a pattern may begin there that bytes yet to
    // come would finish, or make longer. Only starts fewer bytes before the
    // end than the longest pattern are tried.
    std::optional<std::size_t> open_start(std::string_view haystack, std::size_t from,
                                          std::size_t before) const;

    // Bytes held by the matcher's tables.
    std::size_t memory_bytes() const;

private:
    friend class PatternMatcherBuilder;
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // A pattern kept, at its place in the sorted list.
    struct Entry {
        std::uint32_t offset;  // where its bytes begin in bytes_
        std::uint32_t length;
        std::uint32_t pattern;  // its index in build order
        std::uint32_t parent;   // the entry of the longest kept pattern that begins it, or kNone
    };

    PatternMatcher() = default;

    std::string_view bytes_of(const Entry& entry) const {
        return {bytes_.data() + entry.offset, entry.length};
    }
    // The entry of the longest pattern that `text` begins with, or kNone.
    std::uint32_t longest_at(std::string_view text) const;
    // The same among the patterns shorter than the table's keys.
    std::uint32_t longest_short_at(std::string_view text) const;
    // The first entry in [first, last) whose bytes are not less than `text`.
    std::uint32_t lower_bound(std::uint32_t first, std::uint32_t last, std::string_view text) const;
    // The entries whose patterns begin with `text` (or are it): a run of the list.
    EntryRange entries_beginning(std::string_view text) const;

    WipedVector<char> bytes_;
    std::vector<Entry> entries_;
    // Runs of entries by their first PrefixTable::kKeyBytes bytes, and each
    // shorter pattern by its bytes.
    PrefixTable prefix_table_;
    bool has_long_patterns_ = false;
    // Bit n set when a kept pattern is n bytes long, for n below the key length.
    std::uint32_t short_lengths_ = 0;
    std::size_t longest_pattern_ = 0;
    std::optional<SkipFilter> skip_filter_;
    // Until the builder sets it, a filter of no patterns, which passes nothing.
    StartFilter start_filter_{{}};
};

}  // namespace quillbox
