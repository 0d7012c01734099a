#include "redact/long_patterns.hpp"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

namespace quillbox {
namespace {

// A hash that groups equal heads; heads that it does not tell apart are
// compared after it.
std::uint64_t grouping_hash(std::string_view head) {
    std::uint64_t hash = head.size();
    while (!head.empty()) {
        std::uint64_t word = 0;
        const std::size_t taken = std::min(head.size(), sizeof word);
        std::memcpy(&word, head.data(), taken);
        head.remove_prefix(taken);
        hash = (hash ^ word) * 0x9E3779B97F4A7C15u;
        hash ^= hash >> 29;
    }
    return hash;
}

}  // namespace

LongPatterns::LongPatterns(const SecretList& entries, const SecretList& outside,
                           const SecretPatterns& patterns, std::size_t head_length)
    : head_length_(head_length),
      next_with_same_head_(patterns.size(), kNone),
      form_of_(patterns.size(), kNone) {
    full_lengths_.reserve(patterns.size());
    bool any_long = false;
    for (std::uint32_t pattern = 0; pattern < patterns.size(); ++pattern) {
        full_lengths_.push_back(patterns.full_length(pattern));
        any_long = any_long || !is_whole(pattern);
    }
    if (!any_long) return;
    // The patterns whose head is as long as the matcher's heads: those it
    // holds only the head of, and those a head may equal. They are grouped by
    // the hash of their head, and in build order within a group; a group
    // whose heads differ (a collision) is split by their bytes.
    struct Headed {
        std::uint64_t head_hash;
        std::uint32_t pattern;
    };
    WipedVector<Headed> headed;
    for (std::uint32_t pattern = 0; pattern < patterns.size(); ++pattern) {
        if (patterns.full_length(pattern) >= head_length) {
            headed.push_back({grouping_hash(head_of(patterns, pattern)), pattern});
        }
    }
    std::ranges::sort(headed, {},
                      [](const Headed& h) { return std::pair(h.head_hash, h.pattern); });
    std::vector<std::uint32_t> group;
    for (std::size_t first = 0; first < headed.size();) {
        std::size_t last = first + 1;
        while (last < headed.size() && headed[last].head_hash == headed[first].head_hash) ++last;
        group.clear();
        for (std::size_t index = first; index < last; ++index) {
            group.push_back(headed[index].pattern);
        }
        std::ranges::sort(group, {}, [&](std::uint32_t pattern) {
            return std::pair(head_of(patterns, pattern), pattern);
        });
        link_same_heads(entries, outside, patterns, group);
        first = last;
    }
}

void LongPatterns::link_same_heads(const SecretList& entries, const SecretList& outside,
                                   const SecretPatterns& patterns,
                                   std::span<const std::uint32_t> group) {
    // Whether a pattern just written equals one kept before it with the same head.
    const auto kept_before = [&](const WrittenForm& form, std::size_t first_of_head) {
        return std::ranges::any_of(forms_.begin() + static_cast<std::ptrdiff_t>(first_of_head),
                                   forms_.end(), [&](const WrittenForm& kept) {
                                       return kept.hash == form.hash &&
                                              kept.bytes.view() == form.bytes.view();
                                   });
    };
    std::size_t first_form_of_head = 0;
    std::uint32_t last_kept = kNone;
    for (std::size_t index = 0; index < group.size(); ++index) {
        const std::uint32_t pattern = group[index];
        if (index == 0 || head_of(patterns, group[index - 1]) != head_of(patterns, pattern)) {
            first_form_of_head = forms_.size();
            last_kept = kNone;
        }
        if (!is_whole(pattern)) {
            WrittenForm form;
            // A pattern's head is all of it up to kMaxHeadBytes.
            if (patterns.full_length(pattern) <= kMaxHeadBytes) {
                form.bytes.append(patterns.head(pattern));
            } else {
                const PatternSource source = patterns.source(pattern);
                append_secret_pattern(form.bytes,
                                      numbered_secret(entries, outside, source.secret).value.view(),
                                      source);
            }
            form.prefixes.cover(hasher_, form.bytes.view(), form.bytes.size());
            form.hash = form.prefixes.range(hasher_, form.bytes.view(), 0, form.bytes.size());
            if (kept_before(form, first_form_of_head)) continue;
            form_of_[pattern] = static_cast<std::uint32_t>(forms_.size());
            forms_.push_back(std::move(form));
        }
        if (last_kept != kNone) next_with_same_head_[last_kept] = pattern;
        last_kept = pattern;
    }
}

std::vector<std::size_t> LongPatterns::candidates_at(const PatternMatcher& matcher,
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

bool LongPatterns::holds_whole(const WrittenForm& form, LongPatternSearch& search,
                               std::size_t start) const {
    const std::string_view text = search.text_;
    const std::size_t end = start + form.bytes.size();
    if (end > text.size()) return false;
    search.prefixes_.cover(hasher_, text, end);
    return search.prefixes_.range(hasher_, text, start, end) == form.hash &&
           text.substr(start, end - start) == form.bytes.view();
}

bool LongPatterns::ends_inside(const WrittenForm& form, LongPatternSearch& search,
                               std::size_t start) const {
    const std::string_view text = search.text_;
    const std::size_t length = text.size() - start;
    if (length >= form.bytes.size()) return false;
    search.prefixes_.cover(hasher_, text, text.size());
    const std::string_view form_start = form.bytes.view().substr(0, length);
    return search.prefixes_.range(hasher_, text, start, text.size()) ==
               form.prefixes.range(hasher_, form.bytes.view(), 0, length) &&
           text.substr(start) == form_start;
}

std::optional<HeldPattern> LongPatterns::held_at(const PatternMatcher& matcher,
                                                 LongPatternSearch& search, std::size_t start,
                                                 TextEnd end, bool unfinished_wanted) const {
    std::optional<HeldPattern> unfinished;
    for (const std::size_t pattern : candidates_at(matcher, search.text_, start)) {
        // A pattern the matcher holds whole was on the path, or equals the head.
        if (is_whole(pattern)) {
            return HeldPattern{pattern, start, start + full_lengths_[pattern], false};
        }
        const WrittenForm& form = forms_[form_of_[pattern]];
        if (holds_whole(form, search, start)) {
            return HeldPattern{pattern, start, start + form.bytes.size(), false};
        }
        if (unfinished_wanted && !unfinished && ends_inside(form, search, start)) {
            unfinished = HeldPattern{pattern, start, search.text_.size(), true};
            if (end == TextEnd::Open) return unfinished;
        }
    }
    return unfinished;
}

}  // namespace quillbox
