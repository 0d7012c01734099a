#include "redact/pattern_matcher.hpp"

#include <algorithm>
#include <string>
#include <utility>

namespace quillbox {
namespace {

constexpr std::size_t kKeyBytes = PrefixTable::kKeyBytes;
// Offsets into the patterns' bytes are 32-bit.
constexpr std::size_t kPatternBytesCeiling = std::size_t{1} << 31;

const std::uint8_t* unsigned_bytes(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

// Eight bytes of a pattern from `offset` on, zeros past its end, as a number
// that orders patterns as those bytes do.
std::uint64_t order_word(std::string_view pattern, std::size_t offset) {
    std::uint64_t word = 0;
    for (std::size_t index = offset; index < offset + 8; ++index) {
        word <<= 8;
        if (index < pattern.size()) word |= static_cast<std::uint8_t>(pattern[index]);
    }
    return word;
}

std::size_t common_prefix_length(std::string_view a, std::string_view b) {
    const std::size_t shorter = std::min(a.size(), b.size());
    return static_cast<std::size_t>(
        std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(shorter), b.begin())
            .first -
        a.begin());
}

// The first index in [first, last) for which `past` holds, where it holds for
// every index after one that it holds for.
template <typename Past>
std::uint32_t first_where(std::uint32_t first, std::uint32_t last, Past&& past) {
    while (first < last) {
        const std::uint32_t middle = first + (last - first) / 2;
        if (past(middle)) {
            last = middle;
        } else {
            first = middle + 1;
        }
    }
    return first;
}

}  // namespace

// Builds a matcher in steps: the patterns sorted by their bytes, the ones
// kept with their parents, their bytes, then the table of their first bytes
// and the filters.
class PatternMatcherBuilder {
public:
    PatternMatcherBuilder(std::span<const std::string_view> patterns,
                          const PatternMatcherOptions& options)
        : patterns_(patterns), options_(options) {}

    Result<PatternMatcher> run() {
        if (patterns_.size() > options_.max_patterns) {
            return fail(errors::AutomatonBuildFailed{
                "too many patterns: " + std::to_string(patterns_.size()) +
                " exceeds the limit of " + std::to_string(options_.max_patterns)});
        }
        std::size_t total_bytes = 0;
        for (std::size_t index = 0; index < patterns_.size(); ++index) {
            if (patterns_[index].empty()) {
                return fail(
                    errors::AutomatonBuildFailed{"pattern " + std::to_string(index) + " is empty"});
            }
            total_bytes += patterns_[index].size();
        }
        const std::size_t max_bytes = std::min(options_.max_pattern_bytes, kPatternBytesCeiling);
        if (total_bytes > max_bytes) {
            return fail(errors::AutomatonBuildFailed{
                "too many pattern bytes: the patterns hold " + std::to_string(total_bytes) +
                ", more than the limit of " + std::to_string(max_bytes)});
        }
        keep_in_order();
        store_kept_bytes(total_bytes);
        index_prefixes();
        std::vector<std::string_view> kept;
        kept.reserve(matcher_.entries_.size());
        for (const PatternMatcher::Entry& entry : matcher_.entries_) {
            kept.push_back(matcher_.bytes_of(entry));
        }
        matcher_.skip_filter_ = SkipFilter::build(kept);
        matcher_.start_filter_ = StartFilter(kept);
        return std::move(matcher_);
    }

private:
    static constexpr std::uint32_t kNone = PatternMatcher::kNone;

    // A pattern with its first 16 bytes as numbers: patterns that they do not
    // tell apart are compared whole.
    struct Ordered {
        std::uint64_t first_word;
        std::uint64_t second_word;
        std::uint32_t pattern;
    };

    // The patterns by their bytes, and in build order among equal ones.
    WipedVector<Ordered> sorted_patterns() const {
        WipedVector<Ordered> order;
        order.reserve(patterns_.size());
        for (std::size_t index = 0; index < patterns_.size(); ++index) {
            const std::string_view pattern = patterns_[index];
            order.push_back({order_word(pattern, 0), order_word(pattern, 8),
                             static_cast<std::uint32_t>(index)});
        }
        sort_by_first_word(order);
        // Patterns that agree in their first 8 bytes lie together, in build order.
        const auto before = [&](const Ordered& a, const Ordered& b) {
            if (a.second_word != b.second_word) return a.second_word < b.second_word;
            const auto by_bytes = patterns_[a.pattern] <=> patterns_[b.pattern];
            return by_bytes != 0 ? by_bytes < 0 : a.pattern < b.pattern;
        };
        for (auto first = order.begin(); first != order.end();) {
            auto last = first + 1;
            while (last != order.end() && last->first_word == first->first_word) ++last;
            if (last - first > 1) std::sort(first, last, before);
            first = last;
        }
        return order;
    }

    // By first word, and in build order among equal ones: for many patterns a
    // stable radix sort, 16 bits a pass, whose time grows with their number
    // alone; for fewer than its tables hold, a comparison sort.
    static void sort_by_first_word(WipedVector<Ordered>& order) {
        constexpr unsigned kDigitBits = 16;
        if (order.size() < std::size_t{1} << kDigitBits) {
            std::ranges::sort(order, {}, [](const Ordered& ordered) {
                return std::pair(ordered.first_word, ordered.pattern);
            });
            return;
        }
        WipedVector<Ordered> sorted(order.size());
        // How many first words have each digit tells of the patterns too.
        WipedVector<std::size_t> starts(std::size_t{1} << kDigitBits);
        for (unsigned shift = 0; shift < 64; shift += kDigitBits) {
            const auto digit = [shift](const Ordered& ordered) {
                return static_cast<std::size_t>(ordered.first_word >> shift & 0xFFFF);
            };
            std::ranges::fill(starts, 0);
            for (const Ordered& ordered : order) ++starts[digit(ordered)];
            // A digit that every pattern shares leaves the order as it is.
            if (starts[digit(order.front())] == order.size()) continue;
            std::size_t next = 0;
            for (std::size_t& start : starts) next += std::exchange(start, next);
            for (const Ordered& ordered : order) sorted[starts[digit(ordered)]++] = ordered;
            order.swap(sorted);
        }
    }

    // Walks the patterns in order of their bytes with the chain of kept
    // patterns that begin the current one: a pattern begins every later one
    // up to the first that it does not begin. The deepest of the chain came
    // earliest in build order; a pattern that came later is not kept.
    void keep_in_order() {
        auto& m = matcher_;
        m.entries_.reserve(patterns_.size());
        // The chain's entries, each with its first word.
        WipedVector<std::pair<std::uint32_t, std::uint64_t>> chain;
        const auto begins = [&](const std::pair<std::uint32_t, std::uint64_t>& link,
                                const Ordered& ordered) {
            const std::string_view shorter = patterns_[m.entries_[link.first].pattern];
            const std::size_t unseen_bits = 8 * (8 - std::min<std::size_t>(shorter.size(), 8));
            // The first words tell most patterns apart without reading them.
            return ((link.second ^ ordered.first_word) >> unseen_bits) == 0 &&
                   patterns_[ordered.pattern].starts_with(shorter);
        };
        for (const Ordered& ordered : sorted_patterns()) {
            while (!chain.empty() && !begins(chain.back(), ordered)) chain.pop_back();
            if (!chain.empty() && m.entries_[chain.back().first].pattern < ordered.pattern) {
                continue;
            }
            const std::size_t length = patterns_[ordered.pattern].size();
            m.entries_.push_back({0, static_cast<std::uint32_t>(length), ordered.pattern,
                                  chain.empty() ? kNone : chain.back().first});
            chain.emplace_back(static_cast<std::uint32_t>(m.entries_.size() - 1),
                               ordered.first_word);
            m.longest_pattern_ = std::max(m.longest_pattern_, length);
        }
    }

    // The kept patterns' bytes, one after another in build order, which reads
    // the patterns front to back.
    void store_kept_bytes(std::size_t total_bytes) {
        auto& m = matcher_;
        std::vector<std::uint32_t> offset_of(patterns_.size(), kNone);
        for (const PatternMatcher::Entry& entry : m.entries_) offset_of[entry.pattern] = 0;
        m.bytes_.reserve(total_bytes);
        for (std::size_t pattern = 0; pattern < patterns_.size(); ++pattern) {
            if (offset_of[pattern] == kNone) continue;
            offset_of[pattern] = static_cast<std::uint32_t>(m.bytes_.size());
            m.bytes_.insert(m.bytes_.end(), patterns_[pattern].begin(), patterns_[pattern].end());
        }
        for (PatternMatcher::Entry& entry : m.entries_) entry.offset = offset_of[entry.pattern];
    }

    // Entries whose first kKeyBytes bytes agree are a run of the list, since
    // everything sorted between two of them begins with those bytes too.
    void index_prefixes() {
        auto& m = matcher_;
        const auto count = static_cast<std::uint32_t>(m.entries_.size());
        const auto run_end = [&](std::uint32_t first) {
            const std::string_view key = m.bytes_of(m.entries_[first]).substr(0, kKeyBytes);
            std::uint32_t last = first + 1;
            while (last < count && m.bytes_of(m.entries_[last]).starts_with(key)) ++last;
            return last;
        };
        std::vector<EntryRange> runs;
        for (std::uint32_t first = 0; first < count;) {
            const std::uint32_t last =
                m.entries_[first].length < kKeyBytes ? first + 1 : run_end(first);
            runs.push_back({first, last - first});
            first = last;
        }
        m.prefix_table_ = PrefixTable(runs.size());
        for (const EntryRange run : runs) {
            const std::string_view bytes = m.bytes_of(m.entries_[run.first]);
            const std::size_t length = std::min(bytes.size(), kKeyBytes);
            m.prefix_table_.insert(unsigned_bytes(bytes), length, run);
            if (length < kKeyBytes) {
                m.short_lengths_ |= 1u << length;
            } else {
                m.has_long_patterns_ = true;
            }
        }
    }

    std::span<const std::string_view> patterns_;
    PatternMatcherOptions options_;
    PatternMatcher matcher_;
};

Result<PatternMatcher> PatternMatcher::build(std::span<const std::string_view> patterns,
                                             const PatternMatcherOptions& options) {
    return PatternMatcherBuilder(patterns, options).run();
}

std::uint32_t PatternMatcher::lower_bound(std::uint32_t first, std::uint32_t last,
                                          std::string_view text) const {
    return first_where(first, last,
                       [&](std::uint32_t entry) { return bytes_of(entries_[entry]) >= text; });
}

std::uint32_t PatternMatcher::longest_at(std::string_view text) const {
    if (has_long_patterns_ && text.size() >= kKeyBytes) {
        if (const auto run = prefix_table_.find(unsigned_bytes(text), kKeyBytes)) {
            // The nearest entry not after the text shares the most with it,
            // and every pattern that the text begins with begins that entry.
            const std::string_view window = text.substr(0, longest_pattern_);
            const std::uint32_t after = first_where(
                run->first, run->first + run->count,
                [&](std::uint32_t entry) { return bytes_of(entries_[entry]) > window; });
            if (after == run->first) return entries_[after].parent;
            std::uint32_t entry = after - 1;
            const std::size_t common = common_prefix_length(bytes_of(entries_[entry]), window);
            while (entry != kNone && entries_[entry].length > common) {
                entry = entries_[entry].parent;
            }
            return entry;
        }
    }
    return longest_short_at(text);
}

std::uint32_t PatternMatcher::longest_short_at(std::string_view text) const {
    for (std::size_t length = std::min(text.size(), kKeyBytes - 1); length > 0; --length) {
        if ((short_lengths_ >> length & 1) == 0) continue;
        if (const auto run = prefix_table_.find(unsigned_bytes(text), length)) return run->first;
    }
    return kNone;
}

EntryRange PatternMatcher::entries_beginning(std::string_view text) const {
    std::uint32_t first = 0;
    auto last = static_cast<std::uint32_t>(entries_.size());
    if (text.size() >= kKeyBytes) {
        const auto run = prefix_table_.find(unsigned_bytes(text), kKeyBytes);
        if (!run) return {0, 0};
        first = run->first;
        last = run->first + run->count;
    }
    first = lower_bound(first, last, text);
    last = first_where(first, last, [&](std::uint32_t entry) {
        return !bytes_of(entries_[entry]).starts_with(text);
    });
    return {first, last - first};
}

std::optional<PatternMatch> PatternMatcher::find(std::string_view haystack,
                                                 std::size_t from) const {
    const std::size_t size = haystack.size();
    std::size_t offset = from;
    while (offset < size) {
        std::size_t block_end = size;
        if (skip_filter_) {
            offset = skip_filter_->next_candidate(haystack, offset);
            block_end = std::min(size, offset + skip_filter_->block_length());
        }
        offset = start_filter_.next_start(haystack, offset, block_end);
        if (offset == block_end) continue;
        const std::uint32_t entry = longest_at(haystack.substr(offset));
        if (entry != kNone) {
            return PatternMatch{entries_[entry].pattern, offset, offset + entries_[entry].length};
        }
        ++offset;
    }
    return std::nullopt;
}

std::vector<std::size_t> PatternMatcher::patterns_at(std::string_view haystack,
                                                     std::size_t start) const {
    std::vector<std::size_t> patterns;
    for (std::uint32_t entry = longest_at(haystack.substr(start)); entry != kNone;
         entry = entries_[entry].parent) {
        patterns.push_back(entries_[entry].pattern);
    }
    return patterns;
}

std::optional<PatternPrefix> PatternMatcher::unfinished_match(std::string_view haystack,
                                                              std::size_t from) const {
    // A pattern that the text begins but does not complete began fewer bytes
    // before the end than the pattern is long.
    const std::size_t end = haystack.size();
    if (longest_pattern_ == 0) return std::nullopt;
    for (std::size_t start = std::max(from, end - std::min(end, longest_pattern_ - 1)); start < end;
         ++start) {
        const std::string_view rest = haystack.substr(start);
        const EntryRange run = entries_beginning(rest);
        std::uint32_t first_pattern = kNone;
        for (std::uint32_t entry = run.first; entry < run.first + run.count; ++entry) {
            if (entries_[entry].length > rest.size()) {
                first_pattern = std::min(first_pattern, entries_[entry].pattern);
            }
        }
        if (first_pattern != kNone) return PatternPrefix{first_pattern, rest.size()};
    }
    return std::nullopt;
}

std::optional<std::size_t> PatternMatcher::open_start(std::string_view haystack, std::size_t from,
                                                      std::size_t before) const {
    const std::size_t end = haystack.size();
    for (std::size_t start = std::max(from, end - std::min(end, longest_pattern_)); start < before;
         ++start) {
        if (entries_beginning(haystack.substr(start)).count != 0) return start;
    }
    return std::nullopt;
}

std::size_t PatternMatcher::memory_bytes() const {
    return sizeof(*this) + bytes_.capacity() + entries_.capacity() * sizeof(Entry) +
           prefix_table_.memory_bytes() + start_filter_.memory_bytes() +
           (skip_filter_ ? skip_filter_->memory_bytes() : 0);
}

}  // namespace quillbox
