#pragma once

#include <Python.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "python/native/sandbox_type.hpp"
#include "python/native/vault_handle.hpp"
#include "spawn/cancellation.hpp"
#include "spawn/spawn_child.hpp"
#include "spawn/wait_and_capture.hpp"
#include "tokenizer/command_request.hpp"

namespace quillbox::python {

// How a run's child starts and ends, besides its command and limits.
struct RunSettings {
    // Vault.run's child keeps the host's inheritable descriptors; run_with's
    // holds only its streams and files.
    HostDescriptors host_descriptors;
    OutputDestinations destinations = {};
    // The folder the child starts in; the host's working directory when none.
    std::optional<std::filesystem::path> working_directory = std::nullopt;
    // The sandbox the child starts in, borrowed from the caller's Sandbox
    // object for the run; none when null.
    const SandboxSettings* sandbox = nullptr;
    std::shared_ptr<const Cancellation> cancellation = nullptr;
};

// The body of Vault.run and Vault.run_with: under the inner lock, with the
// interpreter lock released, the state is brought up to the vault file as it
// is now (refresh_vault), the command is tokenized (a command line) or
// taken as it stands (an argument vector), the placeholders of its words and
// of the environment's values parsed and resolved against the entries, and
// the redactor of the current state taken (built first if the entries or the
// passphrase changed since the last run); the child then starts in its
// folder and sandbox, runs, and its output is redacted, or passed on live to
// its destination, outside both locks.
// Returns a new RunResult, or nullptr with the exception set.
PyObject* run_pipeline(VaultHandle& vault, const CommandRequest& request, const RunLimits& limits,
                       const RunSettings& settings);

}  // namespace quillbox::python
