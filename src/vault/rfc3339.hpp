#pragma once

#include <string>

#include "core/clock.hpp"

namespace quillbox {

// "YYYY-MM-DDTHH:MM:SS", then a fraction only when the nanoseconds are not zero
// (a point and the fewest of 3, 6 or 9 digits that hold them exactly), then
// "+00:00".
std::string format_rfc3339_utc(WallTime time);

}  // namespace quillbox
