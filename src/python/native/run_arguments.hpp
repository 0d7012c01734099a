#pragma once

#include <Python.h>

#include <optional>

#include "python/native/run_pipeline.hpp"
#include "spawn/wait_and_capture.hpp"
#include "tokenizer/command_request.hpp"

namespace quillbox::python {

// Conversions of the arguments of Vault.run and Vault.run_with. Each returns
// nothing with a Python error set on failure.

// Whether a run limit may be given as None, for no limit at all.
enum class NoLimit { Refused, GivenAsNone };

// The limits of a run from the optional arguments of run and run_with.
std::optional<RunLimits> convert_run_limits(PyObject* timeout_object, PyObject* max_output_object,
                                            PyObject* max_stderr_object, NoLimit no_limit);

// A command line or an argument vector, its environment (`env`, whose values
// are filled, over `base_env`, whose values pass as they are) and its input,
// in which files may be named.
std::optional<CommandRequest> convert_command(PyObject* command_object, PyObject* env_object,
                                              PyObject* base_env_object, PyObject* input_object);

// Where the child's standard output and error go: for each, None (it is
// captured), a descriptor open for writing, or an object whose fileno()
// gives one. Such an object is flushed first, so that what it holds comes
// before the child's output.
std::optional<OutputDestinations> convert_destinations(PyObject* stdout_object,
                                                       PyObject* stderr_object);

// Where run_with's child starts and what may stop it, into `settings`: None
// or a path for `cwd`, None or a Sandbox for `sandbox` (borrowed: the caller
// keeps the object alive for the run), None or a Cancellation for
// `cancellation`. False on failure.
bool convert_child_place(PyObject* cwd_object, PyObject* sandbox_object,
                         PyObject* cancellation_object, RunSettings& settings);

}  // namespace quillbox::python
