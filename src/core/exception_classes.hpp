#pragma once

// Every exception class of the Python module, declared once here, in the
// order in which the module registers them: the enum below, the count, and
// the binding's names, bases and docstrings all come from this table. The
// docstrings are part of what callers see and do not change.
//
// Each line is CLASS(name, base, docstring); the base is Python's own
// Exception or a class listed above it.
#define QUILLBOX_EXCEPTION_CLASSES(CLASS)                                                        \
    CLASS(QuillBoxError, Exception, "Base exception for all quillbox errors.")                   \
    CLASS(VaultNotFoundError, QuillBoxError,                                                     \
          "The vault file does not exist. Run `quillbox init` to create one.")                   \
    CLASS(VaultCorruptError, QuillBoxError,                                                      \
          "The vault file is corrupt or has been tampered with.")                                \
    CLASS(VaultPermissionError, QuillBoxError, "The vault file has insecure permissions.")       \
    CLASS(DecryptionError, QuillBoxError,                                                        \
          "Decryption failed — the master passphrase is incorrect or the vault is corrupt.")     \
    CLASS(MasterKeyError, QuillBoxError,                                                         \
          "Master key error — the passphrase environment variable is not set or the passphrase " \
          "is too short.")                                                                       \
    CLASS(PlaceholderError, QuillBoxError,                                                       \
          "A placeholder could not be resolved against the vault.")                              \
    CLASS(TokenizationError, QuillBoxError, "The command string was rejected by the tokenizer.") \
    CLASS(CommandError, QuillBoxError,                                                           \
          "The child process could not be spawned or was killed by a resource limit.")           \
    CLASS(SandboxError, QuillBoxError, "The command could not be confined to its sandbox.")      \
    CLASS(EntryLimitError, QuillBoxError, "The vault entry limit (10,000) has been reached.")    \
    CLASS(LockError, QuillBoxError, "Could not acquire the vault lock.")

namespace quillbox {

#define QUILLBOX_CLASS_NAME(name, base, doc) name,
enum class ExceptionClass { QUILLBOX_EXCEPTION_CLASSES(QUILLBOX_CLASS_NAME) };
#undef QUILLBOX_CLASS_NAME

#define QUILLBOX_CLASS_ONE(name, base, doc) +1
inline constexpr int kExceptionClassCount = 0 QUILLBOX_EXCEPTION_CLASSES(QUILLBOX_CLASS_ONE);
#undef QUILLBOX_CLASS_ONE

}  // namespace quillbox
