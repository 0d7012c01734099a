#include "python/shared/exception_classes.hpp"

#include <array>
#include <cstddef>

namespace quillbox::python {
namespace {

struct ExceptionClassText {
    const char* name;
    const char* doc;
};

constexpr std::array<ExceptionClassText, kExceptionClassCount> kTexts{{
    {"QuillBoxError", "Base exception for all quillbox errors."},
    {"VaultNotFoundError", "The vault file does not exist. Run `quillbox init` to create one."},
    {"VaultCorruptError", "The vault file is corrupt or has been tampered with."},
    {"VaultPermissionError", "The vault file has insecure permissions."},
    {"DecryptionError",
     "Decryption failed — the master passphrase is incorrect or the vault is corrupt."},
    {"MasterKeyError",
     "Master key error — the passphrase environment variable is not set or the passphrase is "
     "too short."},
    {"PlaceholderError", "A placeholder could not be resolved against the vault."},
    {"TokenizationError", "The command string was rejected by the tokenizer."},
    {"CommandError", "The child process could not be spawned or was killed by a resource limit."},
    {"EntryLimitError", "The vault entry limit (10,000) has been reached."},
    {"LockError", "Could not acquire the vault lock."},
}};

const ExceptionClassText& texts_of(ExceptionClass which) {
    return kTexts[static_cast<std::size_t>(which)];
}

}  // namespace

const char* exception_class_name(ExceptionClass which) {
    return texts_of(which).name;
}

const char* exception_class_doc(ExceptionClass which) {
    return texts_of(which).doc;
}

}  // namespace quillbox::python
