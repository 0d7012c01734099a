#pragma once

#include <Python.h>

#include <string_view>

#include "core/error.hpp"
#include "python/shared/exception_classes.hpp"

namespace quillbox::python {

// The process-wide class object (a borrowed reference), created on first need.
// Returns nullptr with a Python error set when the class cannot be created.
PyObject* exception_class(ExceptionClass which);

// Sets the Python exception for a CoreError: its class from the category and
// kind, its only argument the error's full text (and, where the text's cause
// is often another, that cause after it), its `kind` attribute the kind's
// name. Always returns nullptr.
PyObject* raise_core_error(const CoreError& error);

// Sets a QuillBoxError with a message of the binding's own ("vault is closed").
PyObject* raise_quillbox_error(std::string_view message);

}  // namespace quillbox::python
