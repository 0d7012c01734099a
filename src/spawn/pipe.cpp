#include "spawn/pipe.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace quillbox {
namespace {

// A host that runs with descriptor 1 or 2 closed hands those numbers to new
// pipes. The child's redirections would then overwrite or close them.
Status lift_above_standard_descriptors(UniqueFd& fd) {
    if (fd.get() > STDERR_FILENO) return {};
    const int lifted = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (lifted < 0) return fail(CoreError::from_errno());
    fd.reset(lifted);
    return {};
}

}  // namespace

Result<Pipe> make_pipe() {
    // Close-on-exec from the start: a child that another thread starts in the
    // meantime must not inherit a write end, or it would hold this run's
    // reader open for as long as it lives.
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return fail(CoreError::from_errno());
    Pipe pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
    if (auto lifted = lift_above_standard_descriptors(pipe.read_end); !lifted) {
        return fail(lifted.error());
    }
    if (auto lifted = lift_above_standard_descriptors(pipe.write_end); !lifted) {
        return fail(lifted.error());
    }
    return pipe;
}

}  // namespace quillbox
