#include "redact/aho_corasick.hpp"

#include <algorithm>
#include <bit>
#include <tuple>
#include <vector>

namespace quillbox {
namespace {

constexpr std::uint32_t kAttention = 1;
constexpr std::uint32_t kRootRef = 0;
// Flags of a node word, above its failure reference.
constexpr std::uint32_t kNextIsChild = 1u << 31;
constexpr std::uint32_t kHasSideEdges = 1u << 30;
constexpr std::uint32_t kReports = 1u << 29;
constexpr std::uint32_t kFailMask = kReports - 1;
// Every reference must fit below the flags.
constexpr std::size_t kStateCeiling = std::size_t{1} << 27;
constexpr std::size_t kRowCeilingBytes = std::size_t{1} << 26;
// A depth whose states a search is expected to be in at fewer than this share
// of the text's bytes costs the build more than its rows would save a search.
constexpr double kMinRowReach = 1.0 / 1024;

std::uint32_t node_reference(std::uint32_t first_node_ref, std::uint32_t node) {
    return first_node_ref + 2 * node + kAttention;
}

template <typename T>
void give_back_slack(WipedVector<T>& table) {
    if (table.capacity() - table.size() > table.size() / 8) table.shrink_to_fit();
}

// No trie node: a child that is missing.
constexpr std::uint32_t kNoNode = UINT32_MAX;

// The children of trie nodes other than the node numbered next after their
// parent, by parent and class, while a trie is built: a hash table with open
// addressing, sized for a given number of children and kept at most half full.
class SideChildIndex {
public:
    SideChildIndex() = default;
    explicit SideChildIndex(std::size_t capacity)
        : slots_(std::bit_ceil(2 * capacity + 1)), mask_(slots_.size() - 1) {}

    std::uint32_t find(std::uint32_t parent, std::uint8_t byte_class) const {
        for (std::size_t slot = first_slot(parent, byte_class);; slot = (slot + 1) & mask_) {
            const Slot& entry = slots_[slot];
            if (entry.parent == kNoNode) return kNoNode;
            if (entry.parent == parent && entry.byte_class == byte_class) return entry.child;
        }
    }

    // The pair must not be present yet, and no more pairs than the capacity given.
    void insert(std::uint32_t parent, std::uint8_t byte_class, std::uint32_t child) {
        std::size_t slot = first_slot(parent, byte_class);
        while (slots_[slot].parent != kNoNode) slot = (slot + 1) & mask_;
        slots_[slot] = {parent, child, byte_class};
    }

private:
    // An empty slot has no parent.
    struct Slot {
        std::uint32_t parent = kNoNode;
        std::uint32_t child = 0;
        std::uint8_t byte_class = 0;
    };

    std::size_t first_slot(std::uint32_t parent, std::uint8_t byte_class) const {
        const std::uint64_t key = std::uint64_t{parent} << 8 | byte_class;
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> 32) & mask_;
    }

    WipedVector<Slot> slots_;
    std::size_t mask_ = 0;
};

}  // namespace

// Builds an automaton in steps: byte classes, the trie, the choice of which
// states become rows, then failure links, outputs and rows in breadth-first
// order.
class AhoCorasickBuilder {
public:
    AhoCorasickBuilder(std::span<const std::string_view> patterns,
                       const AhoCorasickOptions& options)
        : patterns_(patterns), options_(options) {}

    Result<AhoCorasick> run() {
        if (patterns_.size() > options_.max_patterns) {
            return fail(errors::AutomatonBuildFailed{
                "too many patterns: " + std::to_string(patterns_.size()) +
                " exceeds the limit of " + std::to_string(options_.max_patterns)});
        }
        for (std::size_t index = 0; index < patterns_.size(); ++index) {
            if (patterns_[index].empty()) {
                return fail(
                    errors::AutomatonBuildFailed{"pattern " + std::to_string(index) + " is empty"});
            }
        }
        assign_byte_classes();
        if (Status built = build_trie(); !built) return fail(std::move(built.error()));
        automaton_.skip_filter_ = SkipFilter::build(patterns_);
        automaton_.start_filter_ = StartFilter(patterns_);
        choose_rows();
        link_states();
        return std::move(automaton_);
    }

private:
    static constexpr std::uint32_t kNone = AhoCorasick::kNone;
    static_assert(kNone == kNoNode);

    // Bytes that no pattern holds share one class; every other byte has its own.
    void assign_byte_classes() {
        WipedVector<std::uint8_t> used(256, 0);
        for (const std::string_view pattern : patterns_) {
            for (const char c : pattern) used[static_cast<std::uint8_t>(c)] = 1;
        }
        pattern_byte_values_ = static_cast<std::size_t>(std::ranges::count(used, 1));
        unsigned next_class = pattern_byte_values_ == used.size() ? 0 : 1;
        automaton_.byte_classes_.resize(used.size());
        for (std::size_t byte = 0; byte < used.size(); ++byte) {
            automaton_.byte_classes_[byte] =
                used[byte] ? static_cast<std::uint8_t>(next_class++) : 0;
        }
        // An even row length keeps bit 0 of every row offset clear.
        automaton_.row_length_ = next_class + (next_class & 1);
    }

    std::uint8_t class_of(char byte) const {
        return automaton_.byte_classes_[static_cast<std::uint8_t>(byte)];
    }

    // Adds the bytes of `pattern` from `depth` on below `parent` as a chain
    // of new nodes, each numbered after its parent, and returns the last.
    std::uint32_t add_chain(std::uint32_t parent, std::string_view pattern, std::size_t depth) {
        auto& a = automaton_;
        const auto first = static_cast<std::uint32_t>(outputs_.size());
        const std::size_t added = pattern.size() - depth;
        if (first == parent + 1) {
            a.node_words_[parent] |= kNextIsChild;
        } else {
            a.node_words_[parent] |= kHasSideEdges;
            a.side_edges_.push_back({parent, first, class_of(pattern[depth])});
            side_children_.insert(parent, class_of(pattern[depth]), first);
        }
        for (std::size_t offset = depth; offset < pattern.size(); ++offset) {
            a.node_classes_.push_back(class_of(pattern[offset]));
            node_depths_.push_back(static_cast<std::uint32_t>(offset + 1));
            ++nodes_at_depth_[offset + 1];
        }
        a.node_words_.resize(first + added, kNextIsChild);
        a.node_words_.back() = 0;
        outputs_.resize(first + added, kNone);
        return static_cast<std::uint32_t>(first + added - 1);
    }

    // The child of a trie node by the class of the byte leading to it, or kNone.
    std::uint32_t find_child(std::uint32_t parent, std::uint8_t byte_class) const {
        const std::uint32_t word = automaton_.node_words_[parent];
        if ((word & kNextIsChild) != 0 && automaton_.node_classes_[parent + 1] == byte_class) {
            return parent + 1;
        }
        return (word & kHasSideEdges) != 0 ? side_children_.find(parent, byte_class) : kNone;
    }

    Status build_trie() {
        auto& a = automaton_;
        std::size_t total_bytes = 0;
        std::size_t longest = 0;
        for (const std::string_view pattern : patterns_) {
            total_bytes += pattern.size();
            longest = std::max(longest, pattern.size());
        }
        const std::size_t max_states = std::min(options_.max_states, kStateCeiling);
        const std::size_t expected_states = std::min(total_bytes + 1, max_states);
        a.node_words_.reserve(expected_states);
        a.node_classes_.reserve(expected_states);
        outputs_.reserve(expected_states);
        node_depths_.reserve(expected_states);
        // The root.
        a.node_words_.push_back(0);
        a.node_classes_.push_back(0);
        node_depths_.push_back(0);
        outputs_.push_back(kNone);
        a.longest_pattern_ = longest;
        nodes_at_depth_.assign(std::min(longest, max_states) + 1, 0);
        nodes_at_depth_[0] = 1;
        // Only the first node that a pattern adds can hang off an older node;
        // the rest follow it.
        side_children_ = SideChildIndex(patterns_.size());

        a.pattern_lengths_.reserve(patterns_.size());
        for (std::size_t index = 0; index < patterns_.size(); ++index) {
            const std::string_view pattern = patterns_[index];
            a.pattern_lengths_.push_back(static_cast<std::uint32_t>(pattern.size()));
            // Follow the part of the pattern that the trie holds already.
            std::uint32_t state = 0;
            std::size_t depth = 0;
            while (depth < pattern.size() && outputs_[state] == kNone) {
                const std::uint32_t child = find_child(state, class_of(pattern[depth]));
                if (child == kNone) break;
                state = child;
                ++depth;
            }
            // An earlier pattern ends here: it is this one or a prefix of it,
            // and wins at the same start, so this one is never reported.
            if (outputs_[state] != kNone) continue;
            if (depth < pattern.size()) {
                if (outputs_.size() + (pattern.size() - depth) > max_states) {
                    return fail(errors::AutomatonBuildFailed{
                        "too many automaton states: the patterns need more than the limit of " +
                        std::to_string(max_states)});
                }
                state = add_chain(state, pattern, depth);
            }
            outputs_[state] = static_cast<std::uint32_t>(index);
        }
        std::ranges::sort(a.side_edges_, {}, [](const AhoCorasick::SideEdge& edge) {
            return std::tuple(edge.parent, edge.byte_class);
        });
        // Shared prefixes leave room reserved for states never made; it is
        // given back where that is worth a copy.
        give_back_slack(a.node_words_);
        give_back_slack(a.node_classes_);
        give_back_slack(a.side_edges_);
        return {};
    }

    // The shallowest states become rows, whole depths at a time, while the
    // budget allows and a search is likely to pass through them. A text whose
    // bytes spread over the b byte values of the patterns ends in one of the
    // n states at depth d at about n / b^d of its bytes; below the first depth
    // too sparse for that to matter, trie nodes serve.
    void choose_rows() {
        const std::size_t row_bytes = automaton_.row_length_ * sizeof(std::uint32_t);
        const std::size_t budget_bytes = std::min(options_.row_budget_bytes, kRowCeilingBytes);
        const std::size_t budget = std::max<std::size_t>(budget_bytes / row_bytes, 2) - 1;
        const std::uint32_t row_length = automaton_.row_length_;
        auto& depth_refs = automaton_.row_depth_refs_;
        depth_refs.assign(1, kRootRef);
        row_count_ = 1;
        double prefixes = 1;
        for (std::size_t depth = 1; depth < nodes_at_depth_.size(); ++depth) {
            const std::size_t count = nodes_at_depth_[depth];
            prefixes *= static_cast<double>(pattern_byte_values_);
            const bool sparse = static_cast<double>(count) < kMinRowReach * prefixes;
            if (sparse || row_count_ + count > budget) break;
            depth_refs.push_back(static_cast<std::uint32_t>(row_count_ * row_length));
            row_count_ += count;
        }
        automaton_.dead_ref_ = static_cast<std::uint32_t>(row_count_ * row_length);
        automaton_.first_node_ref_ = automaton_.dead_ref_ + row_length;
        depth_refs.push_back(automaton_.dead_ref_);
    }

    // The state after `state` reads a byte of class `byte_class`, where every
    // state up to `state`'s depth is linked.
    std::uint32_t transition(std::uint32_t state, std::uint8_t byte_class) const {
        const auto& a = automaton_;
        while (true) {
            const std::uint32_t clean = state & ~kAttention;
            if (clean < a.first_node_ref_) return a.rows_[clean + byte_class];
            const std::uint32_t node = (clean - a.first_node_ref_) >> 1;
            const std::uint32_t child = find_child(node, byte_class);
            if (child != kNone) return node_reference(a.first_node_ref_, child);
            state = a.node_words_[node] & kFailMask;
        }
    }

    // The pattern reported on entering a state whose own output is known.
    std::uint32_t output_of(std::uint32_t state) const {
        // A row state without the flag reports nothing.
        if ((state & kAttention) == 0) return kNone;
        const std::uint32_t clean = state & ~kAttention;
        if (clean < automaton_.first_node_ref_) {
            return automaton_.row_outputs_[clean / automaton_.row_length_];
        }
        return outputs_[(clean - automaton_.first_node_ref_) >> 1];
    }

    // Calls `visit(child)` for each child of a trie node.
    template <typename Visit>
    void for_each_child(std::uint32_t parent, Visit&& visit) const {
        const auto& a = automaton_;
        const std::uint32_t word = a.node_words_[parent];
        if ((word & kNextIsChild) != 0) visit(parent + 1);
        if ((word & kHasSideEdges) == 0) return;
        for (auto edge = std::ranges::lower_bound(a.side_edges_, parent, {},
                                                  &AhoCorasick::SideEdge::parent);
             edge != a.side_edges_.end() && edge->parent == parent; ++edge) {
            visit(edge->child);
        }
    }

    // Makes the failure link of `child`, whose parent's is made, and returns
    // what entering it reports. Once a search has seen a match, only the
    // threads that started no later than it can still win: a node where a
    // pattern ends fails into the dead state, and every chain of failure
    // links through it (its own descendants' included) stops there.
    std::uint32_t link_node(std::uint32_t parent, std::uint32_t child) {
        auto& a = automaton_;
        std::uint32_t& output = outputs_[child];
        std::uint32_t fail = dead_state_;
        if (output == kNone) {
            const std::uint32_t parent_fail = a.node_words_[parent] & kFailMask;
            fail = parent == 0 ? root_state_ : transition(parent_fail, a.node_classes_[child]);
            output = output_of(fail);
        }
        a.node_words_[child] |= fail | (output != kNone ? kReports : 0);
        return output;
    }

    // A state's failure target is shallower, so linking every state of one
    // depth before the next makes each target complete first. The rows go
    // breadth-first, which numbers them; below them, the nodes of a depth go
    // in the order the patterns numbered them, which reads the node tables
    // front to back instead of all over.
    void link_states() {
        auto& a = automaton_;
        const std::uint32_t row_length = a.row_length_;
        root_state_ = a.skip_filter_ ? kRootRef | kAttention : kRootRef;
        dead_state_ = a.dead_ref_ | kAttention;
        a.rows_.assign((row_count_ + 1) * row_length, root_state_);
        std::fill_n(a.rows_.begin() + a.dead_ref_, row_length, dead_state_);
        a.row_outputs_.assign(row_count_ + 1, kNone);
        a.row_nodes_.assign(row_count_, 0);

        std::vector<std::uint32_t> order{0};
        for (std::size_t position = 0; position < row_count_; ++position) {
            const std::uint32_t parent = order[position];
            const std::size_t parent_row = position * row_length;
            if (parent != 0) {
                const std::uint32_t parent_fail = a.node_words_[parent] & kFailMask;
                std::copy_n(a.rows_.begin() + (parent_fail & ~kAttention), row_length,
                            a.rows_.begin() + parent_row);
            }
            for_each_child(parent, [&](std::uint32_t child) {
                const std::size_t child_position = order.size();
                order.push_back(child);
                const std::uint32_t output = link_node(parent, child);
                const bool child_is_row = child_position < row_count_;
                if (child_is_row) {
                    a.row_outputs_[child_position] = output;
                    a.row_nodes_[child_position] = child;
                }
                a.rows_[parent_row + a.node_classes_[child]] =
                    child_is_row ? static_cast<std::uint32_t>(child_position * row_length) |
                                       (output != kNone ? kAttention : 0)
                                 : node_reference(a.first_node_ref_, child);
            });
        }
        for (const std::uint32_t parent : nodes_below_rows_by_depth()) {
            for_each_child(parent, [&](std::uint32_t child) { link_node(parent, child); });
        }
        for (std::uint32_t node = 0; node < outputs_.size(); ++node) {
            if (outputs_[node] != kNone) a.node_outputs_.push_back({node, outputs_[node]});
        }
    }

    // The nodes below the rows, by depth, and in each depth by number.
    std::vector<std::uint32_t> nodes_below_rows_by_depth() const {
        const std::size_t first_depth = automaton_.row_depth_refs_.size() - 1;
        std::vector<std::size_t> next_slot(nodes_at_depth_.size() + 1, 0);
        for (std::size_t depth = first_depth; depth < nodes_at_depth_.size(); ++depth) {
            next_slot[depth + 1] = next_slot[depth] + nodes_at_depth_[depth];
        }
        std::vector<std::uint32_t> nodes(next_slot.back());
        for (std::uint32_t node = 0; node < node_depths_.size(); ++node) {
            const std::uint32_t depth = node_depths_[node];
            if (depth >= first_depth) nodes[next_slot[depth]++] = node;
        }
        return nodes;
    }

    std::span<const std::string_view> patterns_;
    AhoCorasickOptions options_;
    AhoCorasick automaton_;
    // The pattern reported on entering each trie node, or kNone.
    WipedVector<std::uint32_t> outputs_;
    SideChildIndex side_children_;
    std::vector<std::size_t> nodes_at_depth_;
    // The depth of each trie node.
    std::vector<std::uint32_t> node_depths_;
    // The references that stand for the root and the dead state in links.
    std::uint32_t root_state_ = kRootRef;
    std::uint32_t dead_state_ = 0;
    // How many distinct byte values the patterns hold.
    std::size_t pattern_byte_values_ = 0;
    std::size_t row_count_ = 0;
};

Result<AhoCorasick> AhoCorasick::build(std::span<const std::string_view> patterns,
                                       const AhoCorasickOptions& options) {
    return AhoCorasickBuilder(patterns, options).run();
}

std::uint32_t AhoCorasick::trie_child(std::uint32_t node, std::uint8_t byte_class) const {
    const std::uint32_t word = node_words_[node];
    if ((word & kNextIsChild) != 0 && node_classes_[node + 1] == byte_class) return node + 1;
    if ((word & kHasSideEdges) == 0) return kNone;
    const auto edge = std::ranges::lower_bound(
        side_edges_, std::tuple(node, byte_class), {},
        [](const SideEdge& e) { return std::tuple(e.parent, e.byte_class); });
    const bool found =
        edge != side_edges_.end() && edge->parent == node && edge->byte_class == byte_class;
    return found ? edge->child : kNone;
}

inline std::uint32_t AhoCorasick::next_state(std::uint32_t state, std::uint8_t byte_class) const {
    while (true) {
        const std::uint32_t clean = state & ~kAttention;
        if (clean < first_node_ref_) return rows_[clean + byte_class];
        const std::uint32_t node = (clean - first_node_ref_) >> 1;
        const std::uint32_t child = trie_child(node, byte_class);
        if (child != kNone) return node_reference(first_node_ref_, child);
        state = node_words_[node] & kFailMask;
    }
}

std::uint32_t AhoCorasick::node_output(std::uint32_t node) const {
    return std::ranges::lower_bound(node_outputs_, node, {}, &NodeOutput::node)->pattern;
}

namespace {

// Walks that find nothing may read this many times the text that the search
// has passed, and a little more, before the automaton takes over.
constexpr std::size_t kWalkAllowancePerByte = 4;
constexpr std::size_t kWalkSlack = 256;

}  // namespace

std::optional<AhoCorasickMatch> AhoCorasick::find(std::string_view haystack,
                                                  std::size_t from) const {
    const std::size_t size = haystack.size();
    std::size_t walked = 0;
    std::size_t offset = from;
    while (offset < size) {
        std::size_t block_end = size;
        if (skip_filter_) {
            offset = skip_filter_->next_candidate(haystack, offset);
            block_end = std::min(size, offset + skip_filter_->block_length());
        }
        offset = start_filter_.next_start(haystack, offset, block_end);
        if (offset == block_end) continue;
        if (walked > kWalkAllowancePerByte * (offset - from) + kWalkSlack) {
            return run_automaton(haystack, offset);
        }
        std::optional<AhoCorasickMatch> match;
        const std::size_t path_end =
            walk_from(haystack, offset, [&](std::uint32_t pattern, std::size_t end) {
                match = AhoCorasickMatch{pattern, offset, end};
            });
        if (match) return match;
        walked += path_end - offset;
        ++offset;
    }
    return std::nullopt;
}

// Along one path down the trie, a deeper pattern end belongs to an earlier
// pattern (a later one never passes through an earlier one's end), so the
// deepest end that the text reaches is the leftmost-first match at the start.
// A state also reports what its failure chain ends in, a pattern that began
// later; only a pattern as long as the path counts here.
template <typename OnPattern>
std::size_t AhoCorasick::walk_from(std::string_view haystack, std::size_t start,
                                   OnPattern&& on_pattern) const {
    const auto* text = reinterpret_cast<const std::uint8_t*>(haystack.data());
    std::size_t offset = start;
    const auto report = [&](std::uint32_t pattern) {
        if (pattern_lengths_[pattern] == offset - start) on_pattern(pattern, offset);
    };
    // Through the rows: a step leads to a child when it leads one depth down.
    std::uint32_t row = kRootRef;
    for (std::size_t depth = 0;; ++depth) {
        if (offset == haystack.size()) return offset;
        const std::uint32_t next = rows_[row + byte_classes_[text[offset]]];
        const std::uint32_t reached = next & ~kAttention;
        const bool below_rows = reached >= first_node_ref_;
        if (!below_rows && (reached < row_depth_refs_[depth + 1] || reached == dead_ref_)) {
            return offset;
        }
        row = reached;
        ++offset;
        if (below_rows) break;
        if ((next & kAttention) != 0) report(row_outputs_[row / row_length_]);
    }
    // Below the rows, through trie nodes.
    std::uint32_t node = (row - first_node_ref_) >> 1;
    while (true) {
        if ((node_words_[node] & kReports) != 0) report(node_output(node));
        if (offset == haystack.size()) return offset;
        node = trie_child(node, byte_classes_[text[offset]]);
        if (node == kNone) return offset;
        ++offset;
    }
}

std::vector<std::size_t> AhoCorasick::patterns_at(std::string_view haystack,
                                                  std::size_t start) const {
    std::vector<std::size_t> patterns;
    walk_from(haystack, start,
              [&](std::uint32_t pattern, std::size_t) { patterns.push_back(pattern); });
    std::ranges::reverse(patterns);
    return patterns;
}

std::optional<AhoCorasickMatch> AhoCorasick::run_automaton(std::string_view haystack,
                                                           std::size_t from) const {
    const auto* text = reinterpret_cast<const std::uint8_t*>(haystack.data());
    const std::uint8_t* byte_classes = byte_classes_.data();
    const std::size_t end = haystack.size();
    std::optional<AhoCorasickMatch> last;
    const auto report = [&](std::uint32_t pattern, std::size_t match_end) {
        last = AhoCorasickMatch{pattern, match_end - pattern_lengths_[pattern], match_end};
    };

    std::size_t offset = skip_filter_ ? skip_filter_->next_candidate(haystack, from) : from;
    std::uint32_t state = kRootRef;
    while (offset < end) {
        std::uint32_t next = rows_[state + byte_classes[text[offset++]]];
        if ((next & kAttention) == 0) {
            state = next;
            continue;
        }
        // Each state entered here needs a look: it ends the search, reports a
        // pattern, hands over to the skip filter, or lies below the rows.
        while (true) {
            const std::uint32_t clean = next & ~kAttention;
            if (clean < first_node_ref_) {
                if (clean == dead_ref_) return last;
                if (clean == kRootRef) {
                    // Back at the root nothing is pending, so the filter may skip.
                    offset = skip_filter_->next_candidate(haystack, offset);
                } else {
                    report(row_outputs_[clean / row_length_], offset);
                }
                state = clean;
                break;
            }
            const std::uint32_t node = (clean - first_node_ref_) >> 1;
            if ((node_words_[node] & kReports) != 0) report(node_output(node), offset);
            if (offset == end) return last;
            next = next_state(next, byte_classes[text[offset++]]);
            if ((next & kAttention) == 0) {
                state = next;
                break;
            }
        }
    }
    return last;
}

bool AhoCorasick::reports(std::uint32_t state) const {
    if ((state & kAttention) == 0) return false;
    const std::uint32_t clean = state & ~kAttention;
    if (clean < first_node_ref_) return row_outputs_[clean / row_length_] != kNone;
    return (node_words_[(clean - first_node_ref_) >> 1] & kReports) != 0;
}

std::uint32_t AhoCorasick::node_of(std::uint32_t state) const {
    const std::uint32_t clean = state & ~kAttention;
    if (clean < first_node_ref_) return row_nodes_[clean / row_length_];
    return (clean - first_node_ref_) >> 1;
}

std::optional<AhoCorasickPrefix> AhoCorasick::unfinished_match(std::string_view haystack,
                                                               std::size_t from) const {
    // A pattern that the text begins but does not complete began fewer bytes
    // before the end than the pattern is long.
    const std::size_t end = haystack.size();
    const std::size_t start = std::max(from, end - std::min(end, longest_pattern_ - 1));
    const auto* text = reinterpret_cast<const std::uint8_t*>(haystack.data());
    std::uint32_t state = kRootRef;
    for (std::size_t offset = start; offset < end; ++offset) {
        state = next_state(state, byte_classes_[text[offset]]);
        if ((state & ~kAttention) == dead_ref_) return std::nullopt;
    }
    if (reports(state)) return std::nullopt;
    std::uint32_t node = node_of(state);
    if (node == 0) return std::nullopt;
    // Nodes are numbered in the order the patterns made them, each pattern's
    // new nodes one after another: following the next-numbered child leads to
    // the end of the pattern that made this node, the first that passes it.
    std::size_t below = 0;
    while ((node_words_[node] & kNextIsChild) != 0) {
        ++node;
        ++below;
    }
    const std::uint32_t pattern = node_output(node);
    return AhoCorasickPrefix{pattern, pattern_lengths_[pattern] - below};
}

std::optional<std::size_t> AhoCorasick::open_start(std::string_view haystack, std::size_t from,
                                                   std::size_t before) const {
    const std::size_t end = haystack.size();
    for (std::size_t start = std::max(from, end - std::min(end, longest_pattern_)); start < before;
         ++start) {
        if (walk_from(haystack, start, [](std::uint32_t, std::size_t) {}) == end) return start;
    }
    return std::nullopt;
}

std::size_t AhoCorasick::memory_bytes() const {
    return sizeof(*this) + rows_.capacity() * sizeof(std::uint32_t) +
           row_outputs_.capacity() * sizeof(std::uint32_t) +
           row_nodes_.capacity() * sizeof(std::uint32_t) +
           node_words_.capacity() * sizeof(std::uint32_t) + node_classes_.capacity() +
           side_edges_.capacity() * sizeof(SideEdge) +
           node_outputs_.capacity() * sizeof(NodeOutput) +
           pattern_lengths_.capacity() * sizeof(std::uint32_t) + byte_classes_.capacity() +
           row_depth_refs_.capacity() * sizeof(std::uint32_t) + start_filter_.memory_bytes() +
           (skip_filter_ ? skip_filter_->memory_bytes() : 0);
}

}  // namespace quillbox
