#include "redact/aho_corasick.hpp"

#include <deque>
#include <utility>

namespace quillbox {
namespace {

constexpr std::uint32_t kRoot = 0;
constexpr std::uint32_t kNone = UINT32_MAX;
// A search that reaches the dead state stops and reports the last match seen.
constexpr std::uint32_t kDead = UINT32_MAX - 1;

template <typename T>
std::size_t table_bytes(const WipedVector<T>& table) {
    return table.capacity() * sizeof(T);
}

}  // namespace

std::uint32_t AhoCorasick::child(std::uint32_t state, std::uint8_t byte) const {
    for (std::uint32_t edge = first_edge_[state]; edge != kNone; edge = edges_[edge].next) {
        if (edges_[edge].byte == byte) return edges_[edge].target;
    }
    return kNone;
}

std::expected<AhoCorasick, std::string> AhoCorasick::build(
    std::span<const std::string_view> patterns, const AhoCorasickLimits& limits) {
    if (patterns.size() > limits.max_patterns) {
        return std::unexpected("too many patterns: " + std::to_string(patterns.size()) +
                               " exceeds the limit of " + std::to_string(limits.max_patterns));
    }
    AhoCorasick automaton;
    automaton.first_edge_.push_back(kNone);
    // The pattern that ends exactly at each trie node, if any.
    WipedVector<std::uint32_t> own_match{kNone};

    for (std::size_t index = 0; index < patterns.size(); ++index) {
        const std::string_view pattern = patterns[index];
        if (pattern.empty())
            return std::unexpected("pattern " + std::to_string(index) + " is empty");
        automaton.pattern_lengths_.push_back(static_cast<std::uint32_t>(pattern.size()));

        std::uint32_t state = kRoot;
        bool reachable = true;
        for (const char c : pattern) {
            // An earlier pattern is a prefix of this one: it always wins at
            // the same start, so this pattern can never be reported.
            if (own_match[state] != kNone) {
                reachable = false;
                break;
            }
            const auto byte = static_cast<std::uint8_t>(c);
            std::uint32_t next = automaton.child(state, byte);
            if (next == kNone) {
                if (automaton.first_edge_.size() >= limits.max_states) {
                    return std::unexpected(
                        "too many automaton states: the patterns need more "
                        "than the limit of " +
                        std::to_string(limits.max_states));
                }
                next = static_cast<std::uint32_t>(automaton.first_edge_.size());
                automaton.first_edge_.push_back(kNone);
                own_match.push_back(kNone);
                automaton.edges_.push_back({next, automaton.first_edge_[state], byte});
                automaton.first_edge_[state] =
                    static_cast<std::uint32_t>(automaton.edges_.size() - 1);
            }
            state = next;
        }
        if (reachable && own_match[state] == kNone)
            own_match[state] = static_cast<std::uint32_t>(index);
    }

    // Failure links in breadth-first order. Once a search has seen a match,
    // only the threads that started no later than it can still win, so a
    // node where a pattern ends fails into the dead state, and every chain of
    // failure links through it (its own descendants' included) stops there.
    const std::size_t state_count = automaton.first_edge_.size();
    automaton.fail_.assign(state_count, kNone);
    automaton.output_ = own_match;
    std::deque<std::uint32_t> queue{kRoot};
    while (!queue.empty()) {
        const std::uint32_t state = queue.front();
        queue.pop_front();
        for (std::uint32_t edge = automaton.first_edge_[state]; edge != kNone;
             edge = automaton.edges_[edge].next) {
            const auto [target, next_edge, byte] = automaton.edges_[edge];
            std::uint32_t fail = kRoot;
            if (own_match[target] != kNone) {
                fail = kDead;
            } else if (state != kRoot) {
                fail = automaton.fail_[state];
                while (fail != kDead) {
                    const std::uint32_t next = automaton.child(fail, byte);
                    if (next != kNone) {
                        fail = next;
                        break;
                    }
                    if (fail == kRoot) break;
                    fail = automaton.fail_[fail];
                }
            }
            automaton.fail_[target] = fail;
            if (automaton.output_[target] == kNone && fail != kDead) {
                automaton.output_[target] = automaton.output_[fail];
            }
            queue.push_back(target);
        }
    }
    return automaton;
}

std::optional<AhoCorasickMatch> AhoCorasick::find(std::string_view haystack,
                                                  std::size_t from) const {
    std::optional<AhoCorasickMatch> last;
    std::uint32_t state = kRoot;
    for (std::size_t offset = from; offset < haystack.size(); ++offset) {
        const auto byte = static_cast<std::uint8_t>(haystack[offset]);
        while (true) {
            const std::uint32_t next = child(state, byte);
            if (next != kNone) {
                state = next;
                break;
            }
            if (state == kRoot) break;
            state = fail_[state];
            if (state == kDead) return last;
        }
        const std::uint32_t pattern = output_[state];
        if (pattern != kNone) {
            last = AhoCorasickMatch{pattern, offset + 1 - pattern_lengths_[pattern], offset + 1};
        }
    }
    return last;
}

std::size_t AhoCorasick::memory_bytes() const {
    return table_bytes(first_edge_) + table_bytes(edges_) + table_bytes(fail_) +
           table_bytes(output_) + table_bytes(pattern_lengths_);
}

}  // namespace quillbox
