#include "redact/start_filter.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quillbox {
namespace {

// Sixty-four bits of table per head keep about one in thirty of them set, so
// that both bits of a head not in the table are set about once in a thousand.
constexpr unsigned kBitsPerHeadLog2 = 6;
constexpr unsigned kMinHashBits = 12;
constexpr unsigned kMaxHashBits = 26;

struct HeadBits {
    std::size_t first;
    std::size_t second;
};

HeadBits head_bits_of(std::uint64_t head, unsigned hash_bits) {
    const std::uint64_t hash = head * 0x9E3779B97F4A7C15u;
    const std::uint64_t mask = (std::uint64_t{1} << hash_bits) - 1;
    return {static_cast<std::size_t>(hash >> (64 - hash_bits)),
            static_cast<std::size_t>((hash >> (64 - 2 * hash_bits)) & mask)};
}

bool test_bit(const WipedVector<std::uint64_t>& bits, std::size_t index) {
    return (bits[index / 64] >> (index % 64) & 1) != 0;
}

void set_bit(WipedVector<std::uint64_t>& bits, std::size_t index) {
    bits[index / 64] |= std::uint64_t{1} << (index % 64);
}

std::size_t pair_at(const std::uint8_t* bytes) {
    return std::size_t{bytes[0]} | std::size_t{bytes[1]} << 8;
}

}  // namespace

StartFilter::StartFilter(std::span<const std::string_view> patterns)
    : one_byte_patterns_(256 / 64, 0), short_pattern_pairs_(65536 / 64, 0) {
    const auto long_patterns = static_cast<std::size_t>(std::ranges::count_if(
        patterns, [](std::string_view pattern) { return pattern.size() >= kHeadBytes; }));
    head_hash_bits_ = std::clamp<unsigned>(
        static_cast<unsigned>(std::bit_width(long_patterns)) + kBitsPerHeadLog2, kMinHashBits,
        kMaxHashBits);
    head_bits_.assign((std::size_t{1} << head_hash_bits_) / 64, 0);
    for (const std::string_view pattern : patterns) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(pattern.data());
        if (pattern.size() >= kHeadBytes) {
            std::uint64_t head;
            std::memcpy(&head, bytes, kHeadBytes);
            const HeadBits bits = head_bits_of(head, head_hash_bits_);
            set_bit(head_bits_, bits.first);
            set_bit(head_bits_, bits.second);
            continue;
        }
        has_short_patterns_ = true;
        if (pattern.size() == 1) {
            set_bit(one_byte_patterns_, bytes[0]);
        } else {
            set_bit(short_pattern_pairs_, pair_at(bytes));
        }
    }
}

bool StartFilter::head_may_start(std::uint64_t head) const {
    const HeadBits bits = head_bits_of(head, head_hash_bits_);
    return test_bit(head_bits_, bits.first) && test_bit(head_bits_, bits.second);
}

bool StartFilter::short_may_start(const std::uint8_t* text, std::size_t offset,
                                  std::size_t size) const {
    if (test_bit(one_byte_patterns_, text[offset])) return true;
    return offset + 1 < size && test_bit(short_pattern_pairs_, pair_at(text + offset));
}

std::size_t StartFilter::next_start(std::string_view haystack, std::size_t from,
                                    std::size_t to) const {
    const auto* text = reinterpret_cast<const std::uint8_t*>(haystack.data());
    const std::size_t size = haystack.size();
    // Up to where a whole head fits, it is read in one load.
    const std::size_t heads_end = std::min(to, size < kHeadBytes ? 0 : size - kHeadBytes + 1);
    std::size_t offset = from;
    for (; offset < heads_end; ++offset) {
        std::uint64_t head;
        std::memcpy(&head, text + offset, kHeadBytes);
        if (head_may_start(head)) return offset;
        if (has_short_patterns_ && short_may_start(text, offset, size)) return offset;
    }
    if (!has_short_patterns_) return to;
    for (; offset < to; ++offset) {
        if (short_may_start(text, offset, size)) return offset;
    }
    return to;
}

std::size_t StartFilter::memory_bytes() const {
    return (head_bits_.capacity() + one_byte_patterns_.capacity() +
            short_pattern_pairs_.capacity()) *
           sizeof(std::uint64_t);
}

}  // namespace quillbox
