#pragma once

#include <Python.h>

#include <string_view>

#include "python/native/vault_handle.hpp"
#include "spawn/wait_and_capture.hpp"

namespace quillbox::python {

// The body of Vault.run: the command is tokenized and its placeholders parsed
// and resolved against one snapshot of the entries under the inner lock; the
// child then runs, and its output is redacted, without the interpreter lock.
// Returns a new RunResult, or nullptr with the exception set.
PyObject* run_pipeline(VaultHandle& vault, std::string_view command, const RunLimits& limits);

}  // namespace quillbox::python
