#include "redact/aho_corasick.hpp"

#include <algorithm>
#include <vector>

namespace quillbox {
namespace {

constexpr std::uint32_t kAttention = 1;
constexpr std::uint32_t kRootRef = 0;
// Node references must fit in 32 bits.
constexpr std::size_t kStateCeiling = std::size_t{1} << 30;

}  // namespace

// Builds an automaton in steps: byte classes, the trie, the choice of which
// states become rows, then failure links, outputs and rows in breadth-first
// order.
class AhoCorasickBuilder {
  public:
    AhoCorasickBuilder(std::span<const std::string_view> patterns,
                       const AhoCorasickOptions& options)
        : patterns_(patterns), options_(options) {}

    std::expected<AhoCorasick, std::string> run() {
        if (patterns_.size() > options_.max_patterns) {
            return std::unexpected("too many patterns: " + std::to_string(patterns_.size()) +
                                   " exceeds the limit of " +
                                   std::to_string(options_.max_patterns));
        }
        for (std::size_t index = 0; index < patterns_.size(); ++index) {
            if (patterns_[index].empty()) {
                return std::unexpected("pattern " + std::to_string(index) + " is empty");
            }
        }
        assign_byte_classes();
        if (auto failure = build_trie()) return std::unexpected(std::move(*failure));
        automaton_.skip_filter_ = SkipFilter::build(patterns_);
        choose_rows();
        link_states();
        return std::move(automaton_);
    }

  private:
    using Node = AhoCorasick::Node;
    static constexpr std::uint32_t kNone = AhoCorasick::kNone;

    // Bytes that no pattern holds share one class; every other byte has its own.
    void assign_byte_classes() {
        std::array<bool, 256> used{};
        for (const std::string_view pattern : patterns_) {
            for (const char c : pattern) used[static_cast<std::uint8_t>(c)] = true;
        }
        unsigned next_class = std::ranges::all_of(used, std::identity{}) ? 0 : 1;
        for (std::size_t byte = 0; byte < used.size(); ++byte) {
            automaton_.byte_classes_[byte] =
                used[byte] ? static_cast<std::uint8_t>(next_class++) : 0;
        }
        // An even row length keeps bit 0 of every row offset clear.
        automaton_.row_length_ = next_class + (next_class & 1);
    }

    std::optional<std::string> build_trie() {
        auto& nodes = automaton_.nodes_;
        std::size_t total_bytes = 0;
        std::size_t longest = 0;
        for (const std::string_view pattern : patterns_) {
            total_bytes += pattern.size();
            longest = std::max(longest, pattern.size());
        }
        const std::size_t max_states = std::min(options_.max_states, kStateCeiling);
        nodes.reserve(std::min(total_bytes + 1, max_states));
        nodes.emplace_back();
        nodes_at_depth_.assign(longest + 1, 0);
        nodes_at_depth_[0] = 1;
        std::array<std::uint32_t, 256> root_children;
        root_children.fill(kNone);

        automaton_.pattern_lengths_.reserve(patterns_.size());
        for (std::size_t index = 0; index < patterns_.size(); ++index) {
            const std::string_view pattern = patterns_[index];
            automaton_.pattern_lengths_.push_back(static_cast<std::uint32_t>(pattern.size()));
            std::uint32_t state = 0;
            bool reachable = true;
            for (std::size_t depth = 1; depth <= pattern.size(); ++depth) {
                // An earlier pattern is a prefix of this one: it always wins
                // at the same start, so this pattern can never be reported.
                if (nodes[state].output != kNone) {
                    reachable = false;
                    break;
                }
                const auto byte = static_cast<std::uint8_t>(pattern[depth - 1]);
                const std::uint8_t byte_class = automaton_.byte_classes_[byte];
                std::uint32_t child = state == 0 ? root_children[byte] : nodes[state].first_child;
                if (state != 0) {
                    while (child != kNone && nodes[child].byte_class != byte_class) {
                        child = nodes[child].next_sibling;
                    }
                }
                if (child == kNone) {
                    if (nodes.size() >= max_states) {
                        return "too many automaton states: the patterns need more than the limit "
                               "of " +
                               std::to_string(max_states);
                    }
                    child = static_cast<std::uint32_t>(nodes.size());
                    nodes.push_back(
                        {.next_sibling = nodes[state].first_child, .byte_class = byte_class});
                    nodes[state].first_child = child;
                    if (state == 0) root_children[byte] = child;
                    ++nodes_at_depth_[depth];
                }
                state = child;
            }
            if (reachable && nodes[state].output == kNone) {
                nodes[state].output = static_cast<std::uint32_t>(index);
            }
        }
        return std::nullopt;
    }

    // The shallowest states, as many whole depths as the budget allows, become rows.
    void choose_rows() {
        const std::size_t row_bytes = automaton_.row_length_ * sizeof(std::uint32_t);
        const std::size_t budget =
            std::max<std::size_t>(options_.row_budget_bytes / row_bytes, 2) - 1;
        row_count_ = 0;
        for (const std::size_t count : nodes_at_depth_) {
            if (row_count_ + count > budget && row_count_ != 0) break;
            row_count_ += count;
        }
        automaton_.dead_ref_ = static_cast<std::uint32_t>(row_count_ * automaton_.row_length_);
        automaton_.first_node_ref_ = automaton_.dead_ref_ + automaton_.row_length_;
    }

    std::uint32_t output_of(std::uint32_t state, const std::vector<std::uint32_t>& order) const {
        const std::uint32_t clean = state & ~kAttention;
        if (clean == automaton_.dead_ref_) return kNone;
        if (clean < automaton_.first_node_ref_) {
            return automaton_.nodes_[order[clean / automaton_.row_length_]].output;
        }
        return automaton_.nodes_[(clean - automaton_.first_node_ref_) >> 1].output;
    }

    // Breadth-first, so that a state's failure target (which is shallower) is
    // complete before the state. Once a search has seen a match, only the
    // threads that started no later than it can still win: a node where a
    // pattern ends fails into the dead state, and every chain of failure
    // links through it (its own descendants' included) stops there.
    void link_states() {
        auto& a = automaton_;
        const std::uint32_t row_length = a.row_length_;
        const std::uint32_t root_ref = a.skip_filter_ ? kRootRef | kAttention : kRootRef;
        const std::uint32_t dead = a.dead_ref_ | kAttention;
        a.rows_.assign((row_count_ + 1) * row_length, root_ref);
        std::fill_n(a.rows_.begin() + a.dead_ref_, row_length, dead);

        std::vector<std::uint32_t> order;
        order.reserve(a.nodes_.size());
        order.push_back(0);
        for (std::size_t position = 0; position < order.size(); ++position) {
            const std::uint32_t parent = order[position];
            const bool parent_is_row = position < row_count_;
            const std::size_t parent_row = position * row_length;
            if (parent_is_row && parent != 0) {
                const std::uint32_t fail_row = a.nodes_[parent].fail & ~kAttention;
                std::copy_n(a.rows_.begin() + fail_row, row_length, a.rows_.begin() + parent_row);
            }
            for (std::uint32_t child = a.nodes_[parent].first_child; child != kNone;
                 child = a.nodes_[child].next_sibling) {
                const std::size_t child_position = order.size();
                order.push_back(child);
                Node& node = a.nodes_[child];
                if (node.output != kNone) {
                    node.fail = dead;
                } else {
                    node.fail = parent == 0 ? root_ref
                                            : a.next_state(a.nodes_[parent].fail, node.byte_class);
                    node.output = output_of(node.fail, order);
                }
                if (parent_is_row) {
                    a.rows_[parent_row + node.byte_class] =
                        child_position < row_count_
                            ? static_cast<std::uint32_t>(child_position * row_length) |
                                  (node.output != kNone ? kAttention : 0)
                            : a.first_node_ref_ + 2 * child + kAttention;
                }
            }
        }
        a.row_outputs_.resize(row_count_ + 1);
        for (std::size_t row = 0; row < row_count_; ++row)
            a.row_outputs_[row] = a.nodes_[order[row]].output;
        a.row_outputs_[row_count_] = kNone;
    }

    std::span<const std::string_view> patterns_;
    AhoCorasickOptions options_;
    AhoCorasick automaton_;
    std::vector<std::size_t> nodes_at_depth_;
    std::size_t row_count_ = 0;
};

std::expected<AhoCorasick, std::string> AhoCorasick::build(
    std::span<const std::string_view> patterns, const AhoCorasickOptions& options) {
    return AhoCorasickBuilder(patterns, options).run();
}

inline std::uint32_t AhoCorasick::next_state(std::uint32_t state, std::uint8_t byte_class) const {
    while (true) {
        const std::uint32_t clean = state & ~kAttention;
        if (clean < first_node_ref_) return rows_[clean + byte_class];
        const Node& node = nodes_[(clean - first_node_ref_) >> 1];
        for (std::uint32_t child = node.first_child; child != kNone;
             child = nodes_[child].next_sibling) {
            if (nodes_[child].byte_class == byte_class)
                return first_node_ref_ + 2 * child + kAttention;
        }
        state = node.fail;
    }
}

std::optional<AhoCorasickMatch> AhoCorasick::find(std::string_view haystack,
                                                  std::size_t from) const {
    const auto* text = reinterpret_cast<const std::uint8_t*>(haystack.data());
    const std::size_t end = haystack.size();
    std::optional<AhoCorasickMatch> last;
    const auto report = [&](std::uint32_t pattern, std::size_t match_end) {
        last = AhoCorasickMatch{pattern, match_end - pattern_lengths_[pattern], match_end};
    };

    std::size_t offset = skip_filter_ ? skip_filter_->next_candidate(haystack, from) : from;
    std::uint32_t state = kRootRef;
    while (offset < end) {
        std::uint32_t next = rows_[state + byte_classes_[text[offset++]]];
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
            const Node& node = nodes_[(clean - first_node_ref_) >> 1];
            if (node.output != kNone) report(node.output, offset);
            if (offset == end) return last;
            next = next_state(next, byte_classes_[text[offset++]]);
            if ((next & kAttention) == 0) {
                state = next;
                break;
            }
        }
    }
    return last;
}

std::size_t AhoCorasick::memory_bytes() const {
    return sizeof(*this) + rows_.capacity() * sizeof(std::uint32_t) +
           row_outputs_.capacity() * sizeof(std::uint32_t) + nodes_.capacity() * sizeof(Node) +
           pattern_lengths_.capacity() * sizeof(std::uint32_t) +
           (skip_filter_ ? skip_filter_->memory_bytes() : 0);
}

}  // namespace quillbox
