#pragma once

#include <atomic>
#include <memory>

#include "core/result.hpp"
#include "spawn/wake_event.hpp"

namespace quillbox {

// A request, from any thread, that the runs given it stop as their deadline
// would stop them. Once made it stays made; a run given it already made stops
// its child at once.
class Cancellation {
public:
    static Result<std::shared_ptr<Cancellation>> create();

    // Never blocks; any thread, any number of times.
    void cancel();
    bool cancelled() const { return cancelled_.load(std::memory_order_acquire); }
    // Readable from the first cancel() on.
    int fd() const { return event_.fd(); }

private:
    explicit Cancellation(WakeEvent event) : event_(std::move(event)) {}

    WakeEvent event_;
    std::atomic<bool> cancelled_{false};
};

}  // namespace quillbox
