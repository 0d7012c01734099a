#include "core/clock.hpp"

#include <algorithm>
#include <climits>

namespace quillbox {
namespace {

// The poll() timeout that sleeps until `until`: -1 for never, and rounded up
// to whole milliseconds so that a wake-up never comes before it.
int poll_timeout_until(MonotonicTime until) {
    if (until == MonotonicTime::max()) return -1;
    const auto remaining = until - std::chrono::steady_clock::now();
    if (remaining <= MonotonicTime::duration::zero()) return 0;
    const auto millis = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(millis, INT_MAX));
}

class RealClock final : public Clock {
public:
    MonotonicTime now() const override { return std::chrono::steady_clock::now(); }

    WallTime wall_now() const override {
        return std::chrono::time_point_cast<std::chrono::nanoseconds>(
            std::chrono::system_clock::now());
    }

    void wait_until(MonotonicTime until, std::span<pollfd> watched) override {
        ::poll(watched.data(), watched.size(), poll_timeout_until(until));
    }
};

}  // namespace

Clock& real_clock() {
    static RealClock clock;
    return clock;
}

}  // namespace quillbox
