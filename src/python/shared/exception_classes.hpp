#pragma once

#include "core/error.hpp"

namespace quillbox::python {

// The exception classes of quillbox are registered in the order of
// ExceptionClass, which the error kinds name.
using quillbox::ExceptionClass;
using quillbox::kExceptionClassCount;

// The class's name in the module ("QuillBoxError", ...).
const char* exception_class_name(ExceptionClass which);

const char* exception_class_doc(ExceptionClass which);

// The class that a CoreError is raised as.
inline ExceptionClass exception_class_for(const CoreError& error) {
    return exception_class_of(error.kind());
}

}  // namespace quillbox::python
