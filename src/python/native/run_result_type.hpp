#pragma once

#include <Python.h>

#include "spawn/wait_and_capture.hpp"

namespace quillbox::python {

extern PyTypeObject RunResultType;

// Readies the type; returns false with a Python error set on failure.
bool ready_run_result_type();

// A new RunResult with a finished run's outcome, its texts decoded, or
// nullptr with a Python error set.
PyObject* make_run_result(RunOutcome outcome);

}  // namespace quillbox::python
