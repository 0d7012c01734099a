#pragma once

#include <chrono>
#include <compare>
#include <optional>

#include "core/clock.hpp"

namespace quillbox {

// A time as whole seconds, rounded down, and the nanoseconds past them. Dates
// far outside WallTime's range, and the distance between its two ends, fit in
// whole seconds, where the nanosecond count would overflow.
struct SplitWallTime {
    std::chrono::sys_seconds whole;
    std::chrono::nanoseconds past;  // from 0 to just under a second

    auto operator<=>(const SplitWallTime&) const = default;
};

SplitWallTime split_wall_time(WallTime time);

// The WallTime of a split time, or nothing when it lies outside WallTime's range.
std::optional<WallTime> join_wall_time(const SplitWallTime& time);

}  // namespace quillbox
