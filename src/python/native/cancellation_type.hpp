#pragma once

#include <Python.h>

#include <memory>

#include "spawn/cancellation.hpp"

namespace quillbox::python {

extern PyTypeObject CancellationType;

// Readies the type; returns false with a Python error set on failure.
bool ready_cancellation_type();

// The cancellation a quillbox.Cancellation holds, or null when `object` is not one.
std::shared_ptr<const Cancellation> cancellation_of(PyObject* object);

}  // namespace quillbox::python
