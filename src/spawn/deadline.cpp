#include "spawn/deadline.hpp"

namespace quillbox {

Deadline deadline_after(Deadline start, std::uint64_t timeout_secs) {
    const auto representable =
        std::chrono::duration_cast<std::chrono::seconds>(Deadline::max() - start).count();
    if (timeout_secs >= static_cast<std::uint64_t>(representable)) return Deadline::max();
    return start + std::chrono::seconds(timeout_secs);
}

bool has_passed(Deadline deadline, const Clock& clock) {
    return clock.now() >= deadline;
}

}  // namespace quillbox
