#pragma once

#include "core/error.hpp"

namespace quillbox::python {

// The exception classes of quillbox, in the order in which the module registers
// them, and which of them each CoreError is raised as.
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

// The class's name in the module ("QuillBoxError", ...).
const char* exception_class_name(ExceptionClass which);

const char* exception_class_doc(ExceptionClass which);

// The class that a CoreError is raised as, by its category and kind.
ExceptionClass exception_class_for(const CoreError& error);

}  // namespace quillbox::python
