#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "core/clock.hpp"

namespace quillbox::testing {

// A clock that stands still until the code under test waits, and then moves on
// at once to the end of the wait, unless a watched descriptor has an event
// already. Its wall time moves with it. A wait without end blocks, for real,
// until a watched descriptor has an event.
class FakeClock final : public Clock {
public:
    // 2024-05-01T12:00:00Z
    static constexpr WallTime kWallStart{
        std::chrono::sys_days(std::chrono::year(2024) / std::chrono::May / 1) +
        std::chrono::hours(12)};

    MonotonicTime now() const override {
        const MonotonicTime read = now_;
        now_ += step_per_read_;
        return read;
    }
    WallTime wall_now() const override { return kWallStart + (now_ - MonotonicTime()); }
    void wait_until(MonotonicTime until, std::span<pollfd> watched) override;

    // Runs `step` before the clock first reaches `when`: a test lets a real
    // process get somewhere before the code under test sees that time.
    void before_reaching(MonotonicTime when, std::function<void()> step);

    // Lets the clock move on by `step` after each reading of it, as if the
    // code under test took that long between two looks.
    void move_on_each_read(std::chrono::nanoseconds step) { step_per_read_ = step; }

    // How long each wait that let time pass lasted, in order, and all of them.
    const std::vector<std::chrono::nanoseconds>& waits() const { return waits_; }
    std::chrono::nanoseconds elapsed() const { return now_ - MonotonicTime(); }

private:
    struct Step {
        MonotonicTime when;
        std::function<void()> run;
    };

    mutable MonotonicTime now_{};
    std::chrono::nanoseconds step_per_read_{0};
    std::vector<Step> steps_;
    std::vector<std::chrono::nanoseconds> waits_;
};

}  // namespace quillbox::testing
