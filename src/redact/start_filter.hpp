#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/wiping_allocator.hpp"

namespace quillbox {

// Tells, for each offset of a text, whether a pattern may start there, from
// the bytes at that offset alone, so that no offset's answer waits on
// another's. A pattern of at least kHeadBytes bytes may start where the next
// kHeadBytes bytes hash to two bits that its own first kHeadBytes set; a
// shorter one where the next byte, or the next two, begin it. Never says no
// where a pattern starts; says yes elsewhere about as often as two hash bits
// collide, plus wherever a short pattern's first bytes occur.
class StartFilter {
public:
    static constexpr std::size_t kHeadBytes = 8;

    explicit StartFilter(std::span<const std::string_view> patterns);

    // The first offset in [from, to) where a pattern may start, or `to`.
    // Offsets of `haystack` beyond `to` are read, never those beyond its end.
    std::size_t next_start(std::string_view haystack, std::size_t from, std::size_t to) const;

    std::size_t memory_bytes() const;

private:
    bool head_may_start(std::uint64_t head) const;
    bool short_may_start(const std::uint8_t* text, std::size_t offset, std::size_t size) const;

    unsigned head_hash_bits_ = 0;
    // Two bits per pattern of kHeadBytes or more, from the hash of its head.
    WipedVector<std::uint64_t> head_bits_;
    bool has_short_patterns_ = false;
    // A bit per byte that is a whole pattern, and per pair of bytes that
    // begins a pattern shorter than kHeadBytes.
    WipedVector<std::uint64_t> one_byte_patterns_;
    WipedVector<std::uint64_t> short_pattern_pairs_;
};

}  // namespace quillbox
