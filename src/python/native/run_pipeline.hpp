#pragma once

#include <Python.h>

#include "python/native/vault_handle.hpp"
#include "spawn/spawn_child.hpp"
#include "spawn/wait_and_capture.hpp"
#include "tokenizer/command_request.hpp"

namespace quillbox::python {

// The body of Vault.run and Vault.run_with: under the inner lock, with the
// interpreter lock released, the state is brought up to the vault file as it
// is now (refresh_vault), the command is tokenized (a command line) or
// taken as it stands (an argument vector), the placeholders of its words and
// of the environment's values parsed and resolved against the entries, and
// the redactor of the current state taken (built first if the entries or the
// passphrase changed since the last run); the child then runs, and its output
// is redacted, or passed on live to its destination, outside both locks.
// Returns a new RunResult, or nullptr with the exception set.
// Vault.run's child keeps the host's inheritable descriptors; run_with's holds
// only its streams and files.
PyObject* run_pipeline(VaultHandle& vault, const CommandRequest& request, const RunLimits& limits,
                       HostDescriptors host_descriptors,
                       const OutputDestinations& destinations = {});

}  // namespace quillbox::python
