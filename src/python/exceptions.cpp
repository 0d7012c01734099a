#include "python/exceptions.hpp"

#include <array>

#include "python/py_ref.hpp"

namespace quillbox::python {
namespace {

struct ExceptionDefinition {
    const char* qualified_name;
    const char* doc;
};

constexpr std::array<ExceptionDefinition, kExceptionClassCount> kDefinitions{{
    {"_native.QuillBoxError", "Base exception for all quillbox errors."},
    {"_native.VaultNotFoundError",
     "The vault file does not exist. Run `quillbox init` to create one."},
    {"_native.VaultCorruptError", "The vault file is corrupt or has been tampered with."},
    {"_native.VaultPermissionError", "The vault file has insecure permissions."},
    {"_native.DecryptionError",
     "Decryption failed — the master passphrase is incorrect or the vault is corrupt."},
    {"_native.MasterKeyError",
     "Master key error — the passphrase environment variable is not set or the passphrase is "
     "too short."},
    {"_native.PlaceholderError", "A placeholder could not be resolved against the vault."},
    {"_native.TokenizationError", "The command string was rejected by the tokenizer."},
    {"_native.CommandError",
     "The child process could not be spawned or was killed by a resource limit."},
    {"_native.EntryLimitError", "The vault entry limit (10,000) has been reached."},
    {"_native.LockError", "Could not acquire the vault lock."},
}};

// Class objects live for the life of the process; they are created and read
// with the interpreter lock held, which makes each slot a once-initialised one.
std::array<PyObject*, kExceptionClassCount> class_slots{};

PyObject* create_exception_class(ExceptionClass which) {
    PyObject* base = PyExc_Exception;
    if (which != ExceptionClass::QuillBoxError) {
        base = exception_class(ExceptionClass::QuillBoxError);
        if (base == nullptr) return nullptr;
    }
    const ExceptionDefinition& definition = kDefinitions[static_cast<std::size_t>(which)];
    PyObject* created =
        PyErr_NewExceptionWithDoc(definition.qualified_name, definition.doc, base, nullptr);
    if (created == nullptr) {
        PyErr_Format(PyExc_RuntimeError, "Failed to initialize new exception type. (%s)",
                     definition.qualified_name);
    }
    return created;
}

ExceptionClass vault_exception_class(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::VaultNotFound: return ExceptionClass::VaultNotFoundError;
        case ErrorKind::InsecurePermissions: return ExceptionClass::VaultPermissionError;
        case ErrorKind::DecryptionFailed: return ExceptionClass::DecryptionError;
        case ErrorKind::EntryLimitExceeded: return ExceptionClass::EntryLimitError;
        case ErrorKind::LockTimeout: return ExceptionClass::LockError;
        default: return ExceptionClass::VaultCorruptError;
    }
}

}  // namespace

const char* exception_class_name(ExceptionClass which) {
    const char* qualified = kDefinitions[static_cast<std::size_t>(which)].qualified_name;
    return qualified + std::char_traits<char>::length("_native.");
}

PyObject* exception_class(ExceptionClass which) {
    PyObject*& slot = class_slots[static_cast<std::size_t>(which)];
    if (slot == nullptr) slot = create_exception_class(which);
    return slot;
}

ExceptionClass exception_class_for(const CoreError& error) {
    switch (error.category()) {
        case ErrorCategory::Tokenization: return ExceptionClass::TokenizationError;
        case ErrorCategory::Vault: return vault_exception_class(error.kind());
        case ErrorCategory::Placeholder: return ExceptionClass::PlaceholderError;
        case ErrorCategory::Spawn: return ExceptionClass::CommandError;
        case ErrorCategory::MasterKey: return ExceptionClass::MasterKeyError;
        case ErrorCategory::Redaction:
        case ErrorCategory::Io: return ExceptionClass::QuillBoxError;
    }
    return ExceptionClass::QuillBoxError;
}

namespace {

PyObject* raise_with_message(PyObject* type, std::string_view message) {
    if (type == nullptr) return nullptr;
    PyRef text = PyRef::steal(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

}  // namespace

PyObject* raise_core_error(const CoreError& error) {
    return raise_with_message(exception_class(exception_class_for(error)), error.to_text());
}

PyObject* raise_quillbox_error(std::string_view message) {
    return raise_with_message(exception_class(ExceptionClass::QuillBoxError), message);
}

}  // namespace quillbox::python
