#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "redact/wiping_allocator.hpp"

namespace quillbox {

// Skips stretches of text where no pattern can start. A window as long as the
// shortest pattern is judged by its last four bytes: when no pattern holds
// them (by hash) within its first window-length bytes, no pattern starts in
// the window and it moves on by as far as the nearest such occurrence allows.
// Each step costs one table look-up, so the filter pays off when windows are
// long and the patterns few.
class SkipFilter {
  public:
    // Nothing when the patterns are too short, or so many that windows would
    // rarely move far.
    static std::optional<SkipFilter> build(std::span<const std::string_view> patterns);

    // The first offset at or after `from` where a pattern may start, or the
    // text's length when there is none.
    std::size_t next_candidate(std::string_view haystack, std::size_t from) const;

    std::size_t memory_bytes() const { return shifts_.capacity(); }

  private:
    SkipFilter(std::size_t window, unsigned hash_bits);

    std::size_t window_;
    unsigned hash_bits_;
    // How far a window whose last bytes hash to each slot may move.
    WipedVector<std::uint8_t> shifts_;
};

}  // namespace quillbox
