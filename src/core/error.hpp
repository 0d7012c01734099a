#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <variant>

#include "core/error_kinds.hpp"

namespace quillbox {

enum class ErrorCategory { Tokenization, Vault, Placeholder, Spawn, Redaction, MasterKey, Io };

#define QUILLBOX_KIND_NAME(name, category, exception) name,
enum class ErrorKind { QUILLBOX_ERROR_KINDS(QUILLBOX_KIND_NAME) };
#undef QUILLBOX_KIND_NAME

// The exception classes of the Python module, as the kinds name them.
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

// One struct per error kind, holding exactly that kind's fields.
namespace errors {

struct RejectedMetacharacter {
    static constexpr ErrorKind kind = ErrorKind::RejectedMetacharacter;
    char32_t ch;
    std::uint64_t offset;
};
struct MalformedPlaceholder {
    static constexpr ErrorKind kind = ErrorKind::MalformedPlaceholder;
    std::string text;
};
struct InvalidPlaceholderKey {
    static constexpr ErrorKind kind = ErrorKind::InvalidPlaceholderKey;
    std::string text;
};
struct UnclosedSingleQuote {
    static constexpr ErrorKind kind = ErrorKind::UnclosedSingleQuote;
    std::uint64_t offset;
};
struct UnclosedDoubleQuote {
    static constexpr ErrorKind kind = ErrorKind::UnclosedDoubleQuote;
    std::uint64_t offset;
};
struct TrailingBackslash {
    static constexpr ErrorKind kind = ErrorKind::TrailingBackslash;
};
struct EmptyCommand {
    static constexpr ErrorKind kind = ErrorKind::EmptyCommand;
};
// An entry name that is empty (names that break the key-name rule otherwise
// are reported as RejectedMetacharacter with the offending character).
struct EmptyKeyName {
    static constexpr ErrorKind kind = ErrorKind::EmptyKeyName;
};
struct VaultNotFound {
    static constexpr ErrorKind kind = ErrorKind::VaultNotFound;
    std::filesystem::path path;
};
struct HeaderMacMismatch {
    static constexpr ErrorKind kind = ErrorKind::HeaderMacMismatch;
};
struct CommitTagMismatch {
    static constexpr ErrorKind kind = ErrorKind::CommitTagMismatch;
};
struct EntryTagMismatch {
    static constexpr ErrorKind kind = ErrorKind::EntryTagMismatch;
    std::uint32_t index;
};
struct InsecurePermissions {
    static constexpr ErrorKind kind = ErrorKind::InsecurePermissions;
    std::filesystem::path path;
    std::uint32_t mode;
};
struct DecryptionFailed {
    static constexpr ErrorKind kind = ErrorKind::DecryptionFailed;
};
struct UnsupportedVersion {
    static constexpr ErrorKind kind = ErrorKind::UnsupportedVersion;
    std::uint8_t found;
    std::uint8_t max_supported;
};
struct InvalidVersion {
    static constexpr ErrorKind kind = ErrorKind::InvalidVersion;
    std::uint8_t version;
};
struct EntryLimitExceeded {
    static constexpr ErrorKind kind = ErrorKind::EntryLimitExceeded;
    std::uint64_t count;
};
struct LockTimeout {
    static constexpr ErrorKind kind = ErrorKind::LockTimeout;
    std::filesystem::path lockfile;
    std::uint64_t waited_secs;
};
struct BadMagic {
    static constexpr ErrorKind kind = ErrorKind::BadMagic;
    std::array<std::uint8_t, 8> found;
};
struct Truncated {
    static constexpr ErrorKind kind = ErrorKind::Truncated;
    std::uint64_t expected;
    std::uint64_t found;
};
// A file or directory that the vault store will not use: of the wrong kind or
// owned by someone else. `problem` says what is wrong with it, then, after an
// em dash, what to do.
struct UnsafePath {
    static constexpr ErrorKind kind = ErrorKind::UnsafePath;
    std::filesystem::path path;
    std::string problem;
};
struct UnresolvedPlaceholder {
    static constexpr ErrorKind kind = ErrorKind::UnresolvedPlaceholder;
    std::string key;
};
struct CommandNotFound {
    static constexpr ErrorKind kind = ErrorKind::CommandNotFound;
    std::string program;
};
struct CommandNotExecutable {
    static constexpr ErrorKind kind = ErrorKind::CommandNotExecutable;
    std::string program;
};
struct SpawnFailed {
    static constexpr ErrorKind kind = ErrorKind::SpawnFailed;
    std::string program;
    std::string reason;
};
struct AutomatonBuildFailed {
    static constexpr ErrorKind kind = ErrorKind::AutomatonBuildFailed;
    std::string reason;
};
struct EnvVarNotSet {
    static constexpr ErrorKind kind = ErrorKind::EnvVarNotSet;
    std::string variable;
};
// An operating-system error, shown as the system's description and its number.
struct OsError {
    static constexpr ErrorKind kind = ErrorKind::OsError;
    int code;
};
// An I/O failure described by this module itself (e.g. "RNG fill failed").
struct IoMessage {
    static constexpr ErrorKind kind = ErrorKind::IoMessage;
    std::string message;
};

}  // namespace errors

// The category that a kind belongs to; it decides the prefix of the error's text.
ErrorCategory category_of(ErrorKind kind);

// The exception class that a kind is raised as.
ExceptionClass exception_class_of(ErrorKind kind);

// A variant of every type but the first, which only opens the list.
template <typename Opening, typename... Kinds>
struct VariantOfTheRest {
    using type = std::variant<Kinds...>;
};

#define QUILLBOX_KIND_STRUCT(name, category, exception) , errors::name
using ErrorDetail = VariantOfTheRest<void QUILLBOX_ERROR_KINDS(QUILLBOX_KIND_STRUCT)>::type;
#undef QUILLBOX_KIND_STRUCT

// The one error value of the native core: a category, one kind and its fields.
// It owns copies of all its texts and can be moved freely between threads.
class CoreError {
public:
    template <typename Kind>
        requires std::is_constructible_v<ErrorDetail, Kind&&>
    CoreError(Kind&& kind) : detail_(std::forward<Kind>(kind)) {}  // NOLINT: implicit by design

    // The error for the current value of errno.
    static CoreError from_errno();

    ErrorCategory category() const;
    ErrorKind kind() const;
    const ErrorDetail& detail() const { return detail_; }

    // Whether this is an operating-system error with one of these numbers.
    bool is_os_error(std::initializer_list<int> codes) const;

    // The same error, its text ending in the circumstance it happened in.
    CoreError in_circumstance(std::string circumstance) &&;

    // The full display text: the category's prefix followed by the kind's
    // message and, in parentheses, the circumstance, if any.
    std::string to_text() const;

private:
    ErrorDetail detail_;
    std::string circumstance_;
};

}  // namespace quillbox
