#pragma once

// Every kind of CoreError, declared once here: its name, the category that
// gives its text's prefix, and the exception class that a caller of the
// Python module sees. The kind's fields are the struct of the same name in
// namespace `errors`, and its message is that struct's overload of the
// message writer in error.cpp; a kind missing either does not build.
//
// Each line is KIND(name, category, exception class).
#define QUILLBOX_ERROR_KINDS(KIND)                               \
    KIND(RejectedMetacharacter, Tokenization, TokenizationError) \
    KIND(MalformedPlaceholder, Tokenization, TokenizationError)  \
    KIND(InvalidPlaceholderKey, Tokenization, TokenizationError) \
    KIND(UnclosedSingleQuote, Tokenization, TokenizationError)   \
    KIND(UnclosedDoubleQuote, Tokenization, TokenizationError)   \
    KIND(TrailingBackslash, Tokenization, TokenizationError)     \
    KIND(EmptyCommand, Tokenization, TokenizationError)          \
    KIND(EmptyKeyName, Tokenization, TokenizationError)          \
    KIND(VaultNotFound, Vault, VaultNotFoundError)               \
    KIND(HeaderMacMismatch, Vault, VaultCorruptError)            \
    KIND(CommitTagMismatch, Vault, VaultCorruptError)            \
    KIND(EntryTagMismatch, Vault, VaultCorruptError)             \
    KIND(InsecurePermissions, Vault, VaultPermissionError)       \
    KIND(DecryptionFailed, Vault, DecryptionError)               \
    KIND(UnsupportedVersion, Vault, VaultCorruptError)           \
    KIND(InvalidVersion, Vault, VaultCorruptError)               \
    KIND(EntryLimitExceeded, Vault, EntryLimitError)             \
    KIND(LockTimeout, Vault, LockError)                          \
    KIND(BadMagic, Vault, VaultCorruptError)                     \
    KIND(Truncated, Vault, VaultCorruptError)                    \
    KIND(UnsafePath, Vault, VaultPermissionError)                \
    KIND(UnclosedPlaceholder, Placeholder, PlaceholderError)     \
    KIND(InvalidPlaceholder, Placeholder, PlaceholderError)      \
    KIND(UnresolvedPlaceholder, Placeholder, PlaceholderError)   \
    KIND(EmptyArgumentVector, Spawn, CommandError)               \
    KIND(InvalidEnvironmentName, Spawn, CommandError)            \
    KIND(CommandNotFound, Spawn, CommandError)                   \
    KIND(CommandNotExecutable, Spawn, CommandError)              \
    KIND(SpawnFailed, Spawn, CommandError)                       \
    KIND(WorkingDirectoryUnusable, Spawn, CommandError)          \
    KIND(NoMemoryFolder, Spawn, CommandError)                    \
    KIND(SandboxUnavailable, Sandbox, SandboxError)              \
    KIND(SandboxPathUnusable, Sandbox, SandboxError)             \
    KIND(AutomatonBuildFailed, Redaction, QuillBoxError)         \
    KIND(EnvVarNotSet, MasterKey, MasterKeyError)                \
    KIND(InvalidVariableName, MasterKey, MasterKeyError)         \
    KIND(OsError, Io, QuillBoxError)                             \
    KIND(IoMessage, Io, QuillBoxError)
