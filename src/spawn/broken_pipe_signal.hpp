#pragma once

#include <signal.h>

namespace quillbox {

// While it lives, a write on this thread to a pipe whose reader is gone fails
// with EPIPE instead of raising SIGPIPE, whose default ends the process. The
// signal such a write leaves pending is taken before the thread's own mask
// comes back.
class BrokenPipeSignalHeld {
public:
    BrokenPipeSignalHeld();
    ~BrokenPipeSignalHeld();

    BrokenPipeSignalHeld(const BrokenPipeSignalHeld&) = delete;
    BrokenPipeSignalHeld& operator=(const BrokenPipeSignalHeld&) = delete;

private:
    sigset_t previous_mask_;
};

}  // namespace quillbox
