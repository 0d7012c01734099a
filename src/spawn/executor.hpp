#pragma once

#include <vector>

#include "core/clock.hpp"
#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "spawn/wait_and_capture.hpp"

namespace quillbox {

struct ExecutorRequest {
    // The words of the command, each followed by one NUL; argv[0] names the
    // program. Wiped once the child has started, or when the request fails.
    std::vector<SecretBytes> argv;
    // Every vault entry, for the redactor.
    const SecretList& secrets;
    RunLimits limits;
};

// Runs one command to its end: builds the redactor, starts the child, captures
// and redacts its output, timing it on `clock`. It touches no interpreter
// state, so the caller may let other threads run meanwhile. An error means
// that no child was started.
Result<RunOutcome> execute(ExecutorRequest request, Clock& clock = real_clock());

}  // namespace quillbox
