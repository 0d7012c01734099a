#pragma once

#include <sys/types.h>

#include <atomic>

namespace quillbox {

// While a run waits for its child, SIGINT, SIGTERM and SIGHUP sent to the host
// process go to the running children instead of the host's own handlers.
//
// Runs may overlap in one process, so the children live in one process-wide
// set: the first member to join installs the forwarding handlers and saves the
// host's actions, the last one to leave puts the saved actions back. A signal
// reaches every child in the set.

// The handler: sends the signal it received to every running child. It only
// reads the set and calls kill(), so it is safe in any signal context.
void forward_signal(int signal_number);

// One child's membership of the set, from construction until stop().
class SignalForwarding {
public:
    explicit SignalForwarding(pid_t child);
    ~SignalForwarding() { stop(); }

    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;

    // Leaves the set. Called while the child is still unreaped, so that no
    // forwarded signal can reach a process that later got the same id.
    void stop();

private:
    std::atomic<pid_t>* slot_;
};

}  // namespace quillbox
