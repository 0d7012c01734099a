#pragma once

#include <optional>

#include "core/error.hpp"

namespace quillbox::python {

// The exception classes of quillbox, as src/core/exception_classes.hpp lists
// them; the module registers them in that order.
using quillbox::ExceptionClass;
using quillbox::kExceptionClassCount;

// The class's name in the module ("QuillBoxError", ...).
const char* exception_class_name(ExceptionClass which);

const char* exception_class_doc(ExceptionClass which);

// The class it derives from, or nothing for the one that derives from
// Python's Exception.
std::optional<ExceptionClass> exception_class_base(ExceptionClass which);

// The class that a CoreError is raised as.
inline ExceptionClass exception_class_for(const CoreError& error) {
    return exception_class_of(error.kind());
}

}  // namespace quillbox::python
