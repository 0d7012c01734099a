#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

namespace quillbox::python {

// The outcome of one run as the caller sees it: the redacted output texts, the
// exit code and whether the timeout stopped the child.
struct RunResultFields {
    std::string stdout_text;
    std::string stderr_text;
    std::int32_t exit_code;
    bool timed_out;
};

extern PyTypeObject RunResultType;

// Readies the type; returns false with a Python error set on failure.
bool ready_run_result_type();

// A new RunResult object, or nullptr with a Python error set.
PyObject* make_run_result(RunResultFields fields);

}  // namespace quillbox::python
