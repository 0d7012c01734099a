#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/wiping_allocator.hpp"

namespace quillbox {

// Skips stretches of text where no pattern can start. Let w be the length of
// the shortest pattern (at most a fixed bound) and q = 4. The text is cut
// into blocks of w - q + 1 possible starts; any pattern starting in a block
// covers the q bytes that begin w - q bytes after the block's start. So when
// those q bytes occur (by hash) nowhere within the first w bytes of any
// pattern, no pattern starts in the block. The checks of successive blocks
// do not depend on one another, so they run at the speed of memory.
class SkipFilter {
public:
    // Nothing when the patterns are too short, or so many that most blocks
    // would pass.
    static std::optional<SkipFilter> build(std::span<const std::string_view> patterns);

    // The first offset at or after `from` where a pattern may start, or the
    // text's length when there is none.
    std::size_t next_candidate(std::string_view haystack, std::size_t from) const;

    // How many offsets, from one that `next_candidate` gives, a pattern may
    // start at before the next block is checked.
    std::size_t block_length() const;

    std::size_t memory_bytes() const { return present_.capacity() * sizeof(std::uint64_t); }

private:
    SkipFilter(std::size_t window, unsigned hash_bits);
    bool may_hold(const char* gram) const;

    std::size_t window_;
    unsigned hash_bits_;
    // One bit per hash value of the q-byte pieces of the patterns' first w bytes.
    WipedVector<std::uint64_t> present_;
};

}  // namespace quillbox
