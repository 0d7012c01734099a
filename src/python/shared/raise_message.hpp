#pragma once

#include <Python.h>

#include <string_view>

namespace quillbox::python {

// Sets an exception of class `type` whose only argument is `message` (UTF-8).
// Always returns nullptr; does nothing more when `type` is nullptr (its
// creation failed and already set an error).
PyObject* raise_with_message(PyObject* type, std::string_view message);

// The same, the exception's `kind` attribute set to `kind`, which tells
// callers the error's kind without reading its text.
PyObject* raise_with_kind(PyObject* type, std::string_view message, const char* kind);

}  // namespace quillbox::python
