#pragma once

#include <memory>
#include <thread>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/unique_fd.hpp"
#include "spawn/wake_event.hpp"

namespace quillbox {

// Writes a run's input into the pipe that is the child's standard input, on
// its own thread, then closes the pipe so that the child reads end of file.
// It ends early when the child closes its end (a write fails with EPIPE,
// which is blocked as a signal on this thread) or when it is destroyed; the
// run never waits for it, so a child that stops reading holds up nothing.
// The input is wiped when the feeder ends.
class InputFeeder {
public:
    // Starts the feeder's thread; a thread or a wake-up the system refuses
    // is an operating-system error.
    static Result<std::unique_ptr<InputFeeder>> start(UniqueFd sink, SecretBytes input);
    // Stops a feeder still writing and waits for it.
    ~InputFeeder();

    InputFeeder(const InputFeeder&) = delete;
    InputFeeder& operator=(const InputFeeder&) = delete;

private:
    explicit InputFeeder(WakeEvent stop) : stop_(std::move(stop)) {}

    WakeEvent stop_;
    std::thread thread_;
};

}  // namespace quillbox
