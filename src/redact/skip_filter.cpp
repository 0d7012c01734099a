#include "redact/skip_filter.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quillbox {
namespace {

constexpr std::size_t kGram = 4;
constexpr std::size_t kMinWindow = 8;
// Longer windows would add table entries faster than they add distance.
constexpr std::size_t kMaxWindow = 64;
// Below this mean distance per look-up, running the automaton is faster.
constexpr double kMinMeanShift = 4.0;

std::size_t hash_slot(const char* gram, unsigned hash_bits) {
    std::uint32_t value;
    std::memcpy(&value, gram, kGram);
    return (value * 0x9E3779B1u) >> (32 - hash_bits);
}

}  // namespace

SkipFilter::SkipFilter(std::size_t window, unsigned hash_bits)
    : window_(window),
      hash_bits_(hash_bits),
      shifts_(std::size_t{1} << hash_bits, static_cast<std::uint8_t>(window - kGram + 1)) {}

std::optional<SkipFilter> SkipFilter::build(std::span<const std::string_view> patterns) {
    if (patterns.empty()) return std::nullopt;
    std::size_t shortest = SIZE_MAX;
    for (const std::string_view pattern : patterns) shortest = std::min(shortest, pattern.size());
    if (shortest < kMinWindow) return std::nullopt;

    const std::size_t window = std::min(shortest, kMaxWindow);
    const std::size_t grams_per_pattern = window - kGram + 1;
    const std::size_t entries = patterns.size() * grams_per_pattern;
    // About eight slots per entry, so that most slots keep the full distance.
    const auto hash_bits = static_cast<unsigned>(
        std::clamp<std::size_t>(static_cast<std::size_t>(std::bit_width(entries)) + 3, 10, 18));
    SkipFilter filter(window, hash_bits);
    for (const std::string_view pattern : patterns) {
        for (std::size_t offset = 0; offset < grams_per_pattern; ++offset) {
            std::uint8_t& shift = filter.shifts_[hash_slot(pattern.data() + offset, hash_bits)];
            shift = std::min(shift, static_cast<std::uint8_t>(window - kGram - offset));
        }
    }
    double total = 0;
    for (const std::uint8_t shift : filter.shifts_) total += shift;
    if (total / static_cast<double>(filter.shifts_.size()) < kMinMeanShift) return std::nullopt;
    return filter;
}

std::size_t SkipFilter::next_candidate(std::string_view haystack, std::size_t from) const {
    const char* text = haystack.data();
    const std::size_t size = haystack.size();
    const std::size_t longest_shift = window_ - kGram + 1;
    const auto shift_at = [&](std::size_t window_start) -> std::size_t {
        return shifts_[hash_slot(text + window_start + window_ - kGram, hash_bits_)];
    };
    std::size_t offset = from;
    // Most windows move the longest distance, so the window after that is
    // looked up at the same time, which halves the chain of dependent loads.
    while (offset + longest_shift + window_ <= size) {
        const std::size_t shift = shift_at(offset);
        const std::size_t next_shift = shift_at(offset + longest_shift);
        if (shift != longest_shift) {
            if (shift == 0) return offset;
            offset += shift;
            continue;
        }
        offset += longest_shift;
        if (next_shift == 0) return offset;
        offset += next_shift;
    }
    // A window that does not fit holds no pattern either.
    for (; offset + window_ <= size; offset += shift_at(offset)) {
        if (shift_at(offset) == 0) return offset;
    }
    return size;
}

}  // namespace quillbox
