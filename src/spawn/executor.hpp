#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "core/clock.hpp"
#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "redact/redactor.hpp"
#include "sandbox/landlock.hpp"
#include "spawn/cancellation.hpp"
#include "spawn/spawn_child.hpp"
#include "spawn/wait_and_capture.hpp"

namespace quillbox {

struct ExecutorRequest {
    // The words of the command, each followed by one NUL; argv[0] names the
    // program. Wiped once the child has started, or when the request fails.
    std::vector<SecretBytes> argv;
    // Built for the vault's secrets; shared by every run of the same vault state.
    const Redactor& redactor;
    RunLimits limits;
    // The child's whole environment, each "NAME=value" followed by one NUL;
    // none at all when empty. Wiped as the arguments are.
    std::vector<SecretBytes> environment = {};
    // Fed to the child's standard input, which is then closed; without it the
    // child reads the host's standard input. Wiped once written or given up.
    std::optional<SecretBytes> input = std::nullopt;
    // Where each stream goes as it arrives, redacted, instead of into the
    // outcome; the descriptors stay the caller's.
    OutputDestinations destinations = {};
    // Whether the child keeps the host's descriptors that are not
    // close-on-exec, or holds nothing but its streams.
    HostDescriptors host_descriptors = HostDescriptors::Inherited;
    // The folder the child starts in, open, or none for the host's own.
    UniqueFd working_directory = {};
    // The sandbox the child starts in, or none.
    std::optional<LandlockRuleset> sandbox = std::nullopt;
    // Stops the run, as its deadline would, when made; shared with whoever
    // makes it.
    std::shared_ptr<const Cancellation> cancellation = nullptr;
};

// Runs one command to its end: starts the child, captures and redacts its
// output, timing it on `clock`. It touches no interpreter state, so the caller
// may let other threads run meanwhile. An error means that no child was
// started.
Result<RunOutcome> execute(ExecutorRequest request, Clock& clock = real_clock());

}  // namespace quillbox
