#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/wiping_allocator.hpp"
#include "redact/skip_filter.hpp"
#include "redact/start_filter.hpp"

namespace quillbox {

struct AhoCorasickMatch {
    std::size_t pattern;  // index of the pattern in build order
    std::size_t start;    // offset of the first matched byte
    std::size_t end;      // offset just past the last matched byte
};

// The end of a text that begins a pattern without completing it.
struct AhoCorasickPrefix {
    std::size_t pattern;  // the first pattern in build order that begins so
    std::size_t length;   // how many bytes at the end of the text begin it
};

struct AhoCorasickOptions {
    // Bounds on what one automaton may hold; a build that would exceed them fails.
    std::size_t max_patterns = std::size_t{1} << 24;
    std::size_t max_states = std::size_t{1} << 24;
    // The most memory for the table rows of the states nearest the root
    // (whole depths at a time, the root always); deeper states, and depths too
    // sparse for a search to pass through often, are searched through their
    // trie nodes. Rows beyond what the caches hold slow the build and the
    // walks from a start more than they speed them.
    std::size_t row_budget_bytes = std::size_t{4} << 20;
};

// A multi-pattern byte matcher with leftmost-first semantics: a search reports
// the match that starts earliest, and among matches starting at the same byte
// the one whose pattern comes first in build order, even when a later pattern
// would be longer. Matching is byte for byte and unanchored.
//
// A search asks a start filter where a pattern may begin and walks the trie
// from there alone; where those walks have read more than a few times the text
// they passed, it finishes as an automaton that reads each byte once. So a
// search costs time linear in the text, whatever the number of patterns and
// however much the text looks like them.
//
// The states near the root, where walks and the automaton spend nearly all
// their time, are rows of a table indexed by byte class; the deeper states
// keep their trie edges and failure links. The tables spell out the patterns,
// so they are wiped when released.
class AhoCorasick {
public:
    AhoCorasick(AhoCorasick&&) noexcept = default;
    AhoCorasick& operator=(AhoCorasick&&) noexcept = default;
    // The tables are never duplicated.
    AhoCorasick(const AhoCorasick&) = delete;
    AhoCorasick& operator=(const AhoCorasick&) = delete;

    // Fails with AutomatonBuildFailed, describing the problem, when a pattern
    // is empty or the patterns exceed the limits.
    static Result<AhoCorasick> build(std::span<const std::string_view> patterns,
                                     const AhoCorasickOptions& options = {});

    // The leftmost-first match that starts at or after `from`, if any.
    std::optional<AhoCorasickMatch> find(std::string_view haystack, std::size_t from = 0) const;

    // Every pattern that the text holds at `start`, deepest first, so in
    // build order.
    std::vector<std::size_t> patterns_at(std::string_view haystack, std::size_t start) const;

    // The longest end of the text, from `from` on, that begins a pattern, for
    // the text after the last match: nothing when a pattern ends in the bytes
    // read. Only the last bytes, fewer than the longest pattern, are read.
    std::optional<AhoCorasickPrefix> unfinished_match(std::string_view haystack,
                                                      std::size_t from) const;

    // The first position in [from, before) from which the rest of the text
    // lies all along one path of the trie: a pattern may begin there that
    // bytes yet to come would finish, or make longer. Only starts fewer bytes
    // before the end than the longest pattern are tried.
    std::optional<std::size_t> open_start(std::string_view haystack, std::size_t from,
                                          std::size_t before) const;

    // Bytes held by the automaton's tables.
    std::size_t memory_bytes() const;

private:
    friend class AhoCorasickBuilder;

    static constexpr std::uint32_t kNone = UINT32_MAX;

    // An edge to a child other than the node numbered next after its parent.
    struct SideEdge {
        std::uint32_t parent;
        std::uint32_t child;
        std::uint8_t byte_class;
    };
    struct NodeOutput {
        std::uint32_t node;
        std::uint32_t pattern;
    };

    AhoCorasick() = default;
    // The leftmost-first match at or after `from`, by the automaton alone.
    std::optional<AhoCorasickMatch> run_automaton(std::string_view haystack,
                                                  std::size_t from) const;
    // Walks down the trie from the root along the text from `start`, calls
    // `on_pattern(pattern, end)` for each pattern that ends on the way, and
    // returns the offset just past the last byte of the path.
    template <typename OnPattern>
    std::size_t walk_from(std::string_view haystack, std::size_t start,
                          OnPattern&& on_pattern) const;
    // The trie child of `node` over a byte of class `byte_class`, or kNone.
    std::uint32_t trie_child(std::uint32_t node, std::uint8_t byte_class) const;
    // The state after `state` reads a byte of class `byte_class`.
    std::uint32_t next_state(std::uint32_t state, std::uint8_t byte_class) const;
    std::uint32_t node_output(std::uint32_t node) const;
    // Whether a pattern ends on entering the state.
    bool reports(std::uint32_t state) const;
    // The trie node of a state other than the dead one.
    std::uint32_t node_of(std::uint32_t state) const;

    // States are named by references. Bit 0 is set on those that need more
    // than a table step: the dead state, states that report a pattern, the
    // root while the skip filter runs, and every state below the rows.
    // Without that bit a reference is the offset of a row in `rows_`; row
    // references are below `first_node_ref_`, and the reference of trie
    // node n is first_node_ref_ + 2 * n + 1.
    WipedVector<std::uint8_t> byte_classes_;
    std::uint32_t row_length_ = 0;
    std::uint32_t dead_ref_ = 0;
    std::uint32_t first_node_ref_ = 0;
    WipedVector<std::uint32_t> rows_;
    // The reference of the first row at each depth, rows being in
    // breadth-first order, and last the dead state's.
    std::vector<std::uint32_t> row_depth_refs_;
    // The pattern reported on entering each row's state, or kNone.
    WipedVector<std::uint32_t> row_outputs_;
    // The trie node of each row's state.
    WipedVector<std::uint32_t> row_nodes_;
    // Below the rows, states are trie nodes numbered in the order the
    // patterns created them, so that a node's only child is most often the
    // next node. Each has a word holding its failure reference and flags,
    // and the class of the byte on the edge into it.
    WipedVector<std::uint32_t> node_words_;
    WipedVector<std::uint8_t> node_classes_;
    // Sorted by parent, then class.
    WipedVector<SideEdge> side_edges_;
    // Sorted by node.
    WipedVector<NodeOutput> node_outputs_;
    WipedVector<std::uint32_t> pattern_lengths_;
    std::size_t longest_pattern_ = 0;
    std::optional<SkipFilter> skip_filter_;
    // Until the builder sets it, a filter of no patterns, which passes nothing.
    StartFilter start_filter_{{}};
};

}  // namespace quillbox
