#include "spawn/deadline.hpp"

#include <algorithm>

namespace quillbox {

Deadline deadline_after(Deadline start, std::uint64_t timeout_secs) {
    const auto representable =
        std::chrono::duration_cast<std::chrono::seconds>(Deadline::max() - start).count();
    if (timeout_secs >= static_cast<std::uint64_t>(representable)) return Deadline::max();
    return start + std::chrono::seconds(timeout_secs);
}

Deadline redaction_deadline(Deadline run_deadline, MonotonicTime capture_ended) {
    const Deadline later = std::max(run_deadline, capture_ended);
    if (later > Deadline::max() - kRedactionGrace) return Deadline::max();
    return later + kRedactionGrace;
}

bool has_passed(Deadline deadline, const Clock& clock) {
    return clock.now() >= deadline;
}

}  // namespace quillbox
