#pragma once

#include <chrono>
#include <cstdint>

#include "core/clock.hpp"

namespace quillbox {

using Deadline = MonotonicTime;

// `timeout_secs` after `start`; a span too long for the clock means no
// deadline at all, shown as the clock's last point.
Deadline deadline_after(Deadline start, std::uint64_t timeout_secs);

bool has_passed(Deadline deadline, const Clock& clock);

// How long the redaction of a run's output may take beyond the later of the
// run's deadline and the end of its capture: a run that ends just before its
// deadline, or is stopped by it, still has its output redacted.
inline constexpr std::chrono::milliseconds kRedactionGrace{500};

// When the redaction of a run's output must give up.
Deadline redaction_deadline(Deadline run_deadline, MonotonicTime capture_ended);

}  // namespace quillbox
