#include "redact/skip_filter.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace quillbox {
namespace {

constexpr std::size_t kGram = 4;
constexpr std::size_t kMinWindow = 8;
// Longer windows would fill the table faster than they lengthen blocks.
constexpr std::size_t kMaxWindow = 64;
// When more of the table is set, too many blocks pass for skipping to pay.
constexpr double kMaxFill = 0.1;
// Whether the table will be too full is foretold from one pattern in this many.
constexpr std::size_t kSampleStride = 8;

std::size_t hash_of(const char* gram, unsigned hash_bits) {
    std::uint32_t value;
    std::memcpy(&value, gram, kGram);
    return (value * 0x9E3779B1u) >> (32 - hash_bits);
}

}  // namespace

SkipFilter::SkipFilter(std::size_t window, unsigned hash_bits)
    : window_(window), hash_bits_(hash_bits), present_((std::size_t{1} << hash_bits) / 64, 0) {}

bool SkipFilter::may_hold(const char* gram) const {
    const std::size_t hash = hash_of(gram, hash_bits_);
    return (present_[hash / 64] >> (hash % 64) & 1) != 0;
}

std::optional<SkipFilter> SkipFilter::build(std::span<const std::string_view> patterns) {
    if (patterns.empty()) return std::nullopt;
    std::size_t shortest = SIZE_MAX;
    for (const std::string_view pattern : patterns) shortest = std::min(shortest, pattern.size());
    if (shortest < kMinWindow) return std::nullopt;

    const std::size_t window = std::min(shortest, kMaxWindow);
    const std::size_t grams_per_pattern = window - kGram + 1;
    const std::size_t entries = patterns.size() * grams_per_pattern;
    // Thirty-two to sixty-four bits per entry keep the table sparse (a few
    // hundredths of it set) while small enough to fill and wipe in a moment.
    const auto hash_bits = static_cast<unsigned>(
        std::clamp<std::size_t>(static_cast<std::size_t>(std::bit_width(entries)) + 5, 12, 24));
    SkipFilter filter(window, hash_bits);
    const double table_bits = static_cast<double>(std::size_t{1} << hash_bits);
    std::size_t set_bits = 0;
    const auto add_grams_of = [&](std::string_view pattern) {
        for (std::size_t offset = 0; offset < grams_per_pattern; ++offset) {
            const std::size_t hash = hash_of(pattern.data() + offset, hash_bits);
            std::uint64_t& word = filter.present_[hash / 64];
            const std::uint64_t bit = std::uint64_t{1} << (hash % 64);
            set_bits += (word & bit) == 0;
            word |= bit;
        }
    };
    // One pattern in kSampleStride first: the share of the table that they
    // leave clear, to the power of kSampleStride, foretells the share that
    // all leave clear, and a filter foretold too full is given up at once.
    for (std::size_t index = 0; index < patterns.size(); index += kSampleStride) {
        add_grams_of(patterns[index]);
    }
    const double clear_after_sample = 1 - static_cast<double>(set_bits) / table_bits;
    if (1 - std::pow(clear_after_sample, kSampleStride) > kMaxFill) return std::nullopt;
    for (std::size_t index = 0; index < patterns.size(); ++index) {
        if (index % kSampleStride != 0) add_grams_of(patterns[index]);
    }
    if (static_cast<double>(set_bits) > kMaxFill * table_bits) return std::nullopt;
    return filter;
}

std::size_t SkipFilter::block_length() const {
    return window_ - kGram + 1;
}

std::size_t SkipFilter::next_candidate(std::string_view haystack, std::size_t from) const {
    const char* text = haystack.data();
    const std::size_t size = haystack.size();
    const std::size_t block_length = this->block_length();
    // Where the checked bytes no longer fit, no pattern fits either.
    for (std::size_t block = from; block + window_ <= size; block += block_length) {
        if (may_hold(text + block + window_ - kGram)) return block;
    }
    return size;
}

}  // namespace quillbox
