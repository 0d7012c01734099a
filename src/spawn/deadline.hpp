#pragma once

#include <chrono>
#include <cstdint>

namespace quillbox {

using MonotonicClock = std::chrono::steady_clock;
using Deadline = MonotonicClock::time_point;

// `timeout_secs` after `start`; a span too long for the clock means no
// deadline at all, shown as the clock's last point.
Deadline deadline_after(Deadline start, std::uint64_t timeout_secs);

bool has_passed(Deadline deadline);

// The poll() timeout that sleeps until `deadline`: -1 for no deadline, and
// rounded up to whole milliseconds so that a wake-up never comes before it.
int poll_timeout_until(Deadline deadline);

}  // namespace quillbox
