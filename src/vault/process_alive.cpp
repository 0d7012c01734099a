#include "vault/process_alive.hpp"

#include <signal.h>

#include <cerrno>
#include <climits>

namespace quillbox {

bool process_may_be_alive(std::uint32_t pid) {
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX)) return true;
    // Signal 0 only asks. A process of another user exists too, though it may
    // not be signalled.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace quillbox
