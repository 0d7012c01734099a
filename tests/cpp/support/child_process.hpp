#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace quillbox::testing {

struct ChildOutcome {
    int exit_code;            // -1 when the child did not exit normally
    std::string stderr_text;  // everything the child wrote to its standard error
};

// Runs `body` in a forked child whose standard error is captured, so that
// process-wide state (limits, once-flags, warnings) is observed in isolation.
ChildOutcome run_in_child(const std::function<int()>& body);

// The ID of a child that has ended and been reaped: no process has it now.
pid_t reaped_pid();

}  // namespace quillbox::testing
