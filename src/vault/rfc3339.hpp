#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vault/wall_time.hpp"

namespace quillbox {

// "YYYY-MM-DDTHH:MM:SS", then a fraction only when the nanoseconds are not zero
// (a point and the fewest of 3, 6 or 9 digits that hold them exactly), then
// "+00:00".
std::string format_rfc3339_utc(WallTime time);

// An RFC 3339 date-time: a date, "T", "t" or a blank, a time with an optional
// fraction (digits past the ninth are ignored), then "Z", "z" or an offset
// ±HH:MM. A leap second (:60) is accepted and counts as the second before it.
// Nothing may precede or follow. A time that WallTime cannot hold (see its
// range) is refused like malformed text rather than wrapped into another.
std::optional<WallTime> parse_rfc3339(std::string_view text);

}  // namespace quillbox
