#include "spawn/broken_pipe_signal.hpp"

#include <pthread.h>

#include <ctime>

namespace quillbox {
namespace {

sigset_t broken_pipe_only() {
    sigset_t broken_pipe;
    sigemptyset(&broken_pipe);
    sigaddset(&broken_pipe, SIGPIPE);
    return broken_pipe;
}

}  // namespace

BrokenPipeSignalHeld::BrokenPipeSignalHeld() {
    const sigset_t broken_pipe = broken_pipe_only();
    pthread_sigmask(SIG_BLOCK, &broken_pipe, &previous_mask_);
}

BrokenPipeSignalHeld::~BrokenPipeSignalHeld() {
    if (sigismember(&previous_mask_, SIGPIPE) == 0) {
        const sigset_t broken_pipe = broken_pipe_only();
        const timespec no_wait{};
        while (sigtimedwait(&broken_pipe, nullptr, &no_wait) == SIGPIPE) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}

}  // namespace quillbox
