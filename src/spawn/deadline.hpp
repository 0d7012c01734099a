#pragma once

#include <cstdint>

#include "core/clock.hpp"

namespace quillbox {

using Deadline = MonotonicTime;

// `timeout_secs` after `start`; a span too long for the clock means no
// deadline at all, shown as the clock's last point.
Deadline deadline_after(Deadline start, std::uint64_t timeout_secs);

bool has_passed(Deadline deadline, const Clock& clock);

}  // namespace quillbox
