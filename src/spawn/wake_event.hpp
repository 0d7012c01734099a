#pragma once

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace quillbox {

// A wake-up that one thread raises and others wait for with poll(): its
// descriptor stays readable from notify() until clear(). notify() may be called
// from any thread and never blocks.
class WakeEvent {
public:
    static Result<WakeEvent> create();

    void notify() const;
    // Makes the descriptor unreadable again until the next notify().
    void clear() const;

    // The descriptor to poll for POLLIN.
    int fd() const { return read_end_.get(); }

private:
    WakeEvent(UniqueFd read_end, UniqueFd write_end)
        : read_end_(std::move(read_end)), write_end_(std::move(write_end)) {}

    UniqueFd read_end_;
    UniqueFd write_end_;
};

// What a wait for a descriptor or a raised WakeEvent ended with.
enum class Awaited { Ready, Stopped, Failed };

// Which of the two counts where the descriptor is ready and the event raised.
enum class WhenBoth { Stop, Proceed };

// Blocks until `fd` has one of `events` (or an error or a hang-up), or until
// `stop` is raised; Failed where poll fails for another reason than a signal.
Awaited await_descriptor(int fd, short events, const WakeEvent& stop, WhenBoth when_both);

}  // namespace quillbox
