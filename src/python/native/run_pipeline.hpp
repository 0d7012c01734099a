#pragma once

#include <Python.h>

#include <string_view>

#include "python/native/vault_handle.hpp"
#include "spawn/wait_and_capture.hpp"

namespace quillbox::python {

// The body of Vault.run: under the inner lock, with the interpreter lock
// released, the command is tokenized, its placeholders parsed and resolved
// against the entries, and the redactor of the current state taken (built
// first if the entries or the passphrase changed since the last run); the
// child then runs, and its output is redacted, outside both locks. Returns a
// new RunResult, or nullptr with the exception set.
PyObject* run_pipeline(VaultHandle& vault, std::string_view command, const RunLimits& limits);

}  // namespace quillbox::python
