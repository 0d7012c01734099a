#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "redact/wiping_allocator.hpp"

namespace quillbox {

struct AhoCorasickMatch {
    std::size_t pattern;  // index of the pattern in build order
    std::size_t start;    // offset of the first matched byte
    std::size_t end;      // offset just past the last matched byte
};

// Bounds on what one automaton may hold; a build that would exceed them fails.
struct AhoCorasickLimits {
    std::size_t max_patterns = std::size_t{1} << 24;
    std::size_t max_states = std::size_t{1} << 24;
};

// A multi-pattern byte matcher with leftmost-first semantics: a search reports
// the match that starts earliest, and among matches starting at the same byte
// the one whose pattern comes first in build order, even when a later pattern
// would be longer. Matching is byte for byte and unanchored.
//
// The tables spell out the patterns, so they are wiped when released.
class AhoCorasick {
  public:
    // Fails with a description of the problem when a pattern is empty or the
    // patterns exceed the limits.
    static std::expected<AhoCorasick, std::string> build(std::span<const std::string_view> patterns,
                                                         const AhoCorasickLimits& limits = {});

    // The leftmost-first match that starts at or after `from`, if any.
    std::optional<AhoCorasickMatch> find(std::string_view haystack, std::size_t from = 0) const;

    // Bytes held by the automaton's tables.
    std::size_t memory_bytes() const;

  private:
    struct Edge {
        std::uint32_t target;
        std::uint32_t next;
        std::uint8_t byte;
    };

    AhoCorasick() = default;
    std::uint32_t child(std::uint32_t state, std::uint8_t byte) const;

    // Transitions of each state as a linked list of edges.
    WipedVector<std::uint32_t> first_edge_;
    WipedVector<Edge> edges_;
    // Where a search goes when the state has no edge for the next byte; the
    // dead state ends the search.
    WipedVector<std::uint32_t> fail_;
    // The pattern a search reports on entering each state, or none.
    WipedVector<std::uint32_t> output_;
    WipedVector<std::uint32_t> pattern_lengths_;
};

}  // namespace quillbox
