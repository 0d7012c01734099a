#include "core/core_dumps.hpp"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>

#include "core/message_format.hpp"
#include "core/warnings.hpp"

namespace quillbox {

void suppress_core_dumps() {
    static std::atomic<bool> attempted{false};
    if (attempted.exchange(true)) return;
    const rlimit no_core{0, 0};
    if (::setrlimit(RLIMIT_CORE, &no_core) != 0) {
        write_warning("setrlimit(RLIMIT_CORE, 0) failed: " + os_error_text(errno) +
                      " — core dumps are NOT suppressed");
    }
    if (::prctl(PR_SET_DUMPABLE, 0UL) != 0) {
        write_warning("prctl(PR_SET_DUMPABLE, 0) failed: " + os_error_text(errno) +
                      " — other processes of this user may read this process's memory");
    }
}

}  // namespace quillbox
