#pragma once

#include <Python.h>

#include <string_view>

#include "core/error.hpp"

namespace quillbox::python {

// The module's exception classes, in the order in which they are registered.
enum class ExceptionClass {
    QuillBoxError,
    VaultNotFoundError,
    VaultCorruptError,
    VaultPermissionError,
    DecryptionError,
    MasterKeyError,
    PlaceholderError,
    TokenizationError,
    CommandError,
    EntryLimitError,
    LockError,
};

inline constexpr int kExceptionClassCount = 11;

// The name under which the class is stored in the module ("QuillBoxError", ...).
const char* exception_class_name(ExceptionClass which);

// The process-wide class object (a borrowed reference), created on first need.
// Returns nullptr with a Python error set when the class cannot be created.
PyObject* exception_class(ExceptionClass which);

// The class that a CoreError is raised as.
ExceptionClass exception_class_for(const CoreError& error);

// Sets the Python exception for a CoreError: its class from the category and
// kind, its only argument the error's full text. Always returns nullptr.
PyObject* raise_core_error(const CoreError& error);

// Sets a QuillBoxError with a message of the binding's own ("vault is closed").
PyObject* raise_quillbox_error(std::string_view message);

}  // namespace quillbox::python
