#pragma once

#include <Python.h>

#include "redact/redactor.hpp"

namespace quillbox::python {

// The text as a str, or nullptr with a Python error set; either way the
// native buffer holds nothing afterwards.
PyObject* take_as_str(RedactedText& text);

}  // namespace quillbox::python
