#include "spawn/deadline.hpp"

#include <algorithm>
#include <climits>

namespace quillbox {

Deadline deadline_after(Deadline start, std::uint64_t timeout_secs) {
    const auto representable =
        std::chrono::duration_cast<std::chrono::seconds>(Deadline::max() - start).count();
    if (timeout_secs >= static_cast<std::uint64_t>(representable)) return Deadline::max();
    return start + std::chrono::seconds(timeout_secs);
}

bool has_passed(Deadline deadline) {
    return MonotonicClock::now() >= deadline;
}

int poll_timeout_until(Deadline deadline) {
    if (deadline == Deadline::max()) return -1;
    const auto remaining = deadline - MonotonicClock::now();
    if (remaining <= MonotonicClock::duration::zero()) return 0;
    const auto millis = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(millis, INT_MAX));
}

}  // namespace quillbox
