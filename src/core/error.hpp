#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <variant>

#include "core/error_kinds.hpp"
#include "core/exception_classes.hpp"

namespace quillbox {

enum class ErrorCategory {
    Tokenization,
    Vault,
    Placeholder,
    Spawn,
    Sandbox,
    Redaction,
    MasterKey,
    Io,
};

#define QUILLBOX_KIND_NAME(name, category, exception) name,
enum class ErrorKind { QUILLBOX_ERROR_KINDS(QUILLBOX_KIND_NAME) };
#undef QUILLBOX_KIND_NAME

// One struct per error kind, holding exactly that kind's fields; two errors of
// a kind are equal when their fields are.
namespace errors {

struct RejectedMetacharacter {
    static constexpr ErrorKind kind = ErrorKind::RejectedMetacharacter;
    char32_t ch;
    std::uint64_t offset;

    friend bool operator==(const RejectedMetacharacter&, const RejectedMetacharacter&) = default;
};
struct MalformedPlaceholder {
    static constexpr ErrorKind kind = ErrorKind::MalformedPlaceholder;
    std::string text;

    friend bool operator==(const MalformedPlaceholder&, const MalformedPlaceholder&) = default;
};
struct InvalidPlaceholderKey {
    static constexpr ErrorKind kind = ErrorKind::InvalidPlaceholderKey;
    std::string text;

    friend bool operator==(const InvalidPlaceholderKey&, const InvalidPlaceholderKey&) = default;
};
struct UnclosedSingleQuote {
    static constexpr ErrorKind kind = ErrorKind::UnclosedSingleQuote;
    std::uint64_t offset;

    friend bool operator==(const UnclosedSingleQuote&, const UnclosedSingleQuote&) = default;
};
struct UnclosedDoubleQuote {
    static constexpr ErrorKind kind = ErrorKind::UnclosedDoubleQuote;
    std::uint64_t offset;

    friend bool operator==(const UnclosedDoubleQuote&, const UnclosedDoubleQuote&) = default;
};
struct TrailingBackslash {
    static constexpr ErrorKind kind = ErrorKind::TrailingBackslash;

    friend bool operator==(const TrailingBackslash&, const TrailingBackslash&) = default;
};
struct EmptyCommand {
    static constexpr ErrorKind kind = ErrorKind::EmptyCommand;

    friend bool operator==(const EmptyCommand&, const EmptyCommand&) = default;
};
struct EmptyArgumentVector {
    static constexpr ErrorKind kind = ErrorKind::EmptyArgumentVector;

    friend bool operator==(const EmptyArgumentVector&, const EmptyArgumentVector&) = default;
};
struct InvalidEnvironmentName {
    static constexpr ErrorKind kind = ErrorKind::InvalidEnvironmentName;
    std::string name;

    friend bool operator==(const InvalidEnvironmentName&, const InvalidEnvironmentName&) = default;
};
// An entry name that is empty (names that break the key-name rule otherwise
// are reported as RejectedMetacharacter with the offending character).
struct EmptyKeyName {
    static constexpr ErrorKind kind = ErrorKind::EmptyKeyName;

    friend bool operator==(const EmptyKeyName&, const EmptyKeyName&) = default;
};
struct VaultNotFound {
    static constexpr ErrorKind kind = ErrorKind::VaultNotFound;
    std::filesystem::path path;

    friend bool operator==(const VaultNotFound&, const VaultNotFound&) = default;
};
struct HeaderMacMismatch {
    static constexpr ErrorKind kind = ErrorKind::HeaderMacMismatch;

    friend bool operator==(const HeaderMacMismatch&, const HeaderMacMismatch&) = default;
};
struct CommitTagMismatch {
    static constexpr ErrorKind kind = ErrorKind::CommitTagMismatch;

    friend bool operator==(const CommitTagMismatch&, const CommitTagMismatch&) = default;
};
struct EntryTagMismatch {
    static constexpr ErrorKind kind = ErrorKind::EntryTagMismatch;
    std::uint32_t index;

    friend bool operator==(const EntryTagMismatch&, const EntryTagMismatch&) = default;
};
struct InsecurePermissions {
    static constexpr ErrorKind kind = ErrorKind::InsecurePermissions;
    std::filesystem::path path;
    std::uint32_t mode;

    friend bool operator==(const InsecurePermissions&, const InsecurePermissions&) = default;
};
struct DecryptionFailed {
    static constexpr ErrorKind kind = ErrorKind::DecryptionFailed;

    friend bool operator==(const DecryptionFailed&, const DecryptionFailed&) = default;
};
struct UnsupportedVersion {
    static constexpr ErrorKind kind = ErrorKind::UnsupportedVersion;
    std::uint8_t found;
    std::uint8_t max_supported;

    friend bool operator==(const UnsupportedVersion&, const UnsupportedVersion&) = default;
};
struct InvalidVersion {
    static constexpr ErrorKind kind = ErrorKind::InvalidVersion;
    std::uint8_t version;

    friend bool operator==(const InvalidVersion&, const InvalidVersion&) = default;
};
struct EntryLimitExceeded {
    static constexpr ErrorKind kind = ErrorKind::EntryLimitExceeded;
    std::uint64_t count;

    friend bool operator==(const EntryLimitExceeded&, const EntryLimitExceeded&) = default;
};
struct LockTimeout {
    static constexpr ErrorKind kind = ErrorKind::LockTimeout;
    std::filesystem::path lockfile;
    std::uint64_t waited_secs;

    friend bool operator==(const LockTimeout&, const LockTimeout&) = default;
};
struct BadMagic {
    static constexpr ErrorKind kind = ErrorKind::BadMagic;
    std::array<std::uint8_t, 8> found;

    friend bool operator==(const BadMagic&, const BadMagic&) = default;
};
struct Truncated {
    static constexpr ErrorKind kind = ErrorKind::Truncated;
    std::uint64_t expected;
    std::uint64_t found;

    friend bool operator==(const Truncated&, const Truncated&) = default;
};
// A file or directory that the vault store will not use: of the wrong kind or
// owned by someone else. `problem` says what is wrong with it, then, after an
// em dash, what to do.
struct UnsafePath {
    static constexpr ErrorKind kind = ErrorKind::UnsafePath;
    std::filesystem::path path;
    std::string problem;

    friend bool operator==(const UnsafePath&, const UnsafePath&) = default;
};
// In the forms that let the braces of templates through (`{{` and a letter or
// "_" open a placeholder, anything else after `{{` is text): a placeholder that
// is never closed, and one that is neither `KEY` nor `file:KEY` nor `url:KEY`.
// Their texts are those of MalformedPlaceholder and InvalidPlaceholderKey,
// with how a template's braces are written to pass through.
struct UnclosedPlaceholder {
    static constexpr ErrorKind kind = ErrorKind::UnclosedPlaceholder;
    std::string text;

    friend bool operator==(const UnclosedPlaceholder&, const UnclosedPlaceholder&) = default;
};
struct InvalidPlaceholder {
    static constexpr ErrorKind kind = ErrorKind::InvalidPlaceholder;
    std::string text;

    friend bool operator==(const InvalidPlaceholder&, const InvalidPlaceholder&) = default;
};
struct UnresolvedPlaceholder {
    static constexpr ErrorKind kind = ErrorKind::UnresolvedPlaceholder;
    std::string key;
    // Where template braces may pass through and the key looks like a
    // template's action rather than a mistyped name: the text says how to
    // write one.
    bool template_hint = false;

    friend bool operator==(const UnresolvedPlaceholder&, const UnresolvedPlaceholder&) = default;
};
struct CommandNotFound {
    static constexpr ErrorKind kind = ErrorKind::CommandNotFound;
    std::string program;

    friend bool operator==(const CommandNotFound&, const CommandNotFound&) = default;
};
struct CommandNotExecutable {
    static constexpr ErrorKind kind = ErrorKind::CommandNotExecutable;
    std::string program;

    friend bool operator==(const CommandNotExecutable&, const CommandNotExecutable&) = default;
};
struct SpawnFailed {
    static constexpr ErrorKind kind = ErrorKind::SpawnFailed;
    std::string program;
    std::string reason;

    friend bool operator==(const SpawnFailed&, const SpawnFailed&) = default;
};
// The folder a command was to start in cannot be opened as one.
struct WorkingDirectoryUnusable {
    static constexpr ErrorKind kind = ErrorKind::WorkingDirectoryUnusable;
    std::string path;
    int code;

    friend bool operator==(const WorkingDirectoryUnusable&,
                           const WorkingDirectoryUnusable&) = default;
};
// No folder in memory can take the files that `{{file:KEY}}` names: each
// field says why its candidate, $XDG_RUNTIME_DIR or /dev/shm, is unfit.
struct NoMemoryFolder {
    static constexpr ErrorKind kind = ErrorKind::NoMemoryFolder;
    std::string runtime_dir_problem;
    std::string shared_memory_problem;

    friend bool operator==(const NoMemoryFolder&, const NoMemoryFolder&) = default;
};
// This system cannot confine a command: no Landlock, or one too old.
struct SandboxUnavailable {
    static constexpr ErrorKind kind = ErrorKind::SandboxUnavailable;
    std::string reason;

    friend bool operator==(const SandboxUnavailable&, const SandboxUnavailable&) = default;
};
// A path that the caller allowed a sandboxed command cannot be found or opened.
struct SandboxPathUnusable {
    static constexpr ErrorKind kind = ErrorKind::SandboxPathUnusable;
    std::string path;
    int code;

    friend bool operator==(const SandboxPathUnusable&, const SandboxPathUnusable&) = default;
};
struct AutomatonBuildFailed {
    static constexpr ErrorKind kind = ErrorKind::AutomatonBuildFailed;
    std::string reason;

    friend bool operator==(const AutomatonBuildFailed&, const AutomatonBuildFailed&) = default;
};
struct EnvVarNotSet {
    static constexpr ErrorKind kind = ErrorKind::EnvVarNotSet;
    std::string variable;

    friend bool operator==(const EnvVarNotSet&, const EnvVarNotSet&) = default;
};
// The name given for the passphrase's variable is no variable's name. It is
// not kept: text given where a name belongs may be the passphrase itself.
struct InvalidVariableName {
    static constexpr ErrorKind kind = ErrorKind::InvalidVariableName;

    friend bool operator==(const InvalidVariableName&, const InvalidVariableName&) = default;
};
// An operating-system error, shown as the system's description and its number.
struct OsError {
    static constexpr ErrorKind kind = ErrorKind::OsError;
    int code;

    friend bool operator==(const OsError&, const OsError&) = default;
};
// An I/O failure described by this module itself (e.g. "RNG fill failed").
struct IoMessage {
    static constexpr ErrorKind kind = ErrorKind::IoMessage;
    std::string message;

    friend bool operator==(const IoMessage&, const IoMessage&) = default;
};

}  // namespace errors

// The category that a kind belongs to; it decides the prefix of the error's text.
ErrorCategory category_of(ErrorKind kind);

// The exception class that a kind is raised as.
ExceptionClass exception_class_of(ErrorKind kind);

// The kind's name as declared, "HeaderMacMismatch" say.
const char* kind_name(ErrorKind kind);

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
    const std::string& circumstance() const { return circumstance_; }

    // The full display text: the category's prefix followed by the kind's
    // message and, in parentheses, the circumstance, if any.
    std::string to_text() const;

    // The same kind, fields and circumstance.
    friend bool operator==(const CoreError&, const CoreError&) = default;

private:
    ErrorDetail detail_;
    std::string circumstance_;
};

}  // namespace quillbox
