#pragma once

#include <poll.h>

#include <chrono>
#include <span>

namespace quillbox {

// A point on the monotonic clock: deadlines and waits are measured on it.
using MonotonicTime = std::chrono::steady_clock::time_point;

// A point in UTC wall-clock time, to the nanosecond: a 64-bit count that
// reaches from 1677-09-21T00:12:43.145224192Z to 2262-04-11T23:47:16.854775807Z.
using WallTime = std::chrono::sys_time<std::chrono::nanoseconds>;

// Where code that waits reads the time and does its waiting. Such code takes a
// Clock& that is the real one unless a test passes its own, so that a test can
// let minutes pass without waiting for them.
class Clock {
public:
    virtual ~Clock() = default;

    virtual MonotonicTime now() const = 0;
    virtual WallTime wall_now() const = 0;

    // Returns at `until` (MonotonicTime::max() for never), or as soon as one of
    // `watched` has an event (see poll). It may return earlier, when a signal
    // interrupts it.
    virtual void wait_until(MonotonicTime until, std::span<pollfd> watched = {}) = 0;
};

// The system's clocks, and poll() for the waiting.
Clock& real_clock();

}  // namespace quillbox
