#include "core/error.hpp"

#include <algorithm>
#include <cerrno>

#include "core/key_name.hpp"
#include "core/message_format.hpp"

namespace quillbox {
namespace {

const char* category_prefix(ErrorCategory category) {
    switch (category) {
        case ErrorCategory::Tokenization: return "tokenization error: ";
        case ErrorCategory::Vault: return "vault error: ";
        case ErrorCategory::Placeholder: return "placeholder error: ";
        case ErrorCategory::Spawn: return "spawn error: ";
        case ErrorCategory::Sandbox: return "sandbox error: ";
        case ErrorCategory::Redaction: return "redaction error: ";
        case ErrorCategory::MasterKey: return "master key error: ";
        case ErrorCategory::Io: return "I/O error: ";
    }
    return "";
}

// How a template's braces that look like a placeholder get through.
constexpr const char* kTemplateBracesHint =
    " — braces of a template pass through when a space follows {{, as in {{ end }}";

std::string number(std::uint64_t value) {
    return std::to_string(value);
}

// The kind's message, with every field formatted for display.
struct MessageWriter {
    std::string operator()(const errors::RejectedMetacharacter& e) const {
        std::string ch;
        append_quoted_char(ch, e.ch);
        return "rejected shell metacharacter " + ch + " at byte offset " + number(e.offset) +
               " — wrap it in quotes if it is intended to be literal";
    }
    std::string operator()(const errors::MalformedPlaceholder& e) const {
        return "malformed placeholder: " + e.text + " — missing closing '}'";
    }
    std::string operator()(const errors::InvalidPlaceholderKey& e) const {
        return "invalid placeholder key name in " + e.text + " — " + std::string(kKeyNameRule);
    }
    std::string operator()(const errors::UnclosedSingleQuote& e) const {
        return "unclosed single-quoted string starting at byte offset " + number(e.offset);
    }
    std::string operator()(const errors::UnclosedDoubleQuote& e) const {
        return "unclosed double-quoted string starting at byte offset " + number(e.offset);
    }
    std::string operator()(const errors::TrailingBackslash&) const {
        return "trailing backslash at end of command string — nothing to escape";
    }
    std::string operator()(const errors::EmptyCommand&) const {
        return "command string is empty — nothing to execute";
    }
    std::string operator()(const errors::EmptyArgumentVector&) const {
        return "argument vector is empty — nothing to execute";
    }
    std::string operator()(const errors::InvalidEnvironmentName& e) const {
        std::string name;
        append_quoted_text(name, e.name);
        return "invalid environment variable name " + name +
               " — a name must be non-empty and hold no '=', no NUL byte and no \"{{\"";
    }
    std::string operator()(const errors::EmptyKeyName&) const {
        return "key name is empty — " + std::string(kKeyNameRule);
    }
    std::string operator()(const errors::VaultNotFound& e) const {
        return "vault not found at " + quoted_path(e.path) + " — run `quillbox init` to create one";
    }
    std::string operator()(const errors::HeaderMacMismatch&) const {
        return "vault header HMAC mismatch — the vault header may have been tampered with or "
               "corrupted";
    }
    std::string operator()(const errors::CommitTagMismatch&) const {
        return "vault commit-tag HMAC mismatch — the vault file may have been tampered with, "
               "truncated, or corrupted";
    }
    std::string operator()(const errors::EntryTagMismatch& e) const {
        return "GCM authentication tag mismatch for entry at index " + number(e.index) +
               " — possible wrong passphrase or ciphertext corruption";
    }
    std::string operator()(const errors::InsecurePermissions& e) const {
        std::string mode;
        append_octal_mode(mode, e.mode);
        return "vault file " + quoted_path(e.path) + " has insecure permissions (mode " + mode +
               ") — expected 0600 (owner read/write only). Use --allow-insecure-permissions to "
               "override";
    }
    std::string operator()(const errors::DecryptionFailed&) const {
        return "decryption failed — the master passphrase is incorrect or the vault is corrupt";
    }
    std::string operator()(const errors::UnsupportedVersion& e) const {
        return "vault format version " + number(e.found) +
               " is not supported by this binary (maximum supported: " + number(e.max_supported) +
               ") — upgrade quillbox to open this vault";
    }
    std::string operator()(const errors::InvalidVersion& e) const {
        return "vault format version " + number(e.version) +
               " is invalid — the vault file may be corrupt";
    }
    std::string operator()(const errors::EntryLimitExceeded& e) const {
        return "vault entry limit exceeded — the vault already contains " + number(e.count) +
               " entries (the maximum). Delete unused entries before adding new ones";
    }
    std::string operator()(const errors::LockTimeout& e) const {
        return "vault is locked by another process (lockfile: " + quoted_path(e.lockfile) +
               "). Waited " + number(e.waited_secs) +
               "s without acquiring the lock. If the lock is stale, delete the lockfile and retry";
    }
    std::string operator()(const errors::BadMagic& e) const {
        std::string found;
        append_byte_list(found, e.found);
        return "vault file does not start with the expected magic bytes (found " + found +
               ") — this is not a quillbox vault file";
    }
    std::string operator()(const errors::Truncated& e) const {
        return "vault file is truncated — expected at least " + number(e.expected) +
               " bytes but found " + number(e.found) + " bytes";
    }
    std::string operator()(const errors::UnsafePath& e) const {
        return quoted_path(e.path) + " " + e.problem;
    }
    std::string operator()(const errors::UnclosedPlaceholder& e) const {
        return (*this)(errors::MalformedPlaceholder{e.text}) + kTemplateBracesHint;
    }
    std::string operator()(const errors::InvalidPlaceholder& e) const {
        return (*this)(errors::InvalidPlaceholderKey{e.text}) + kTemplateBracesHint;
    }
    std::string operator()(const errors::UnresolvedPlaceholder& e) const {
        return "unresolved placeholder {{{key}}} — no entry with that name exists in the vault. "
               "Use `quillbox set " +
               e.key + "` to add it" + (e.template_hint ? kTemplateBracesHint : "");
    }
    std::string operator()(const errors::CommandNotFound& e) const {
        return "command not found: " + e.program + " — verify the binary exists and is on PATH";
    }
    std::string operator()(const errors::CommandNotExecutable& e) const {
        return "command not executable: " + e.program +
               " — check file permissions and ensure the file is a valid executable";
    }
    std::string operator()(const errors::SpawnFailed& e) const {
        return "failed to spawn " + e.program + ": " + e.reason;
    }
    std::string operator()(const errors::WorkingDirectoryUnusable& e) const {
        return "cannot start the command in " + quoted_path(e.path) + ": " + os_error_text(e.code);
    }
    std::string operator()(const errors::NoMemoryFolder& e) const {
        return "no folder in memory for the files of {{file:KEY}}: " + e.runtime_dir_problem +
               ", and " + e.shared_memory_problem +
               " — set XDG_RUNTIME_DIR to a folder of yours with mode 0700 on tmpfs (as "
               "/run/user/UID is), or mount tmpfs on /dev/shm";
    }
    std::string operator()(const errors::SandboxUnavailable& e) const {
        return "commands cannot be sandboxed on this system: " + e.reason;
    }
    std::string operator()(const errors::SandboxPathUnusable& e) const {
        return "cannot allow " + quoted_path(e.path) +
               " to a sandboxed command: " + os_error_text(e.code);
    }
    std::string operator()(const errors::AutomatonBuildFailed& e) const {
        return "failed to build redaction pattern automaton: " + e.reason;
    }
    std::string operator()(const errors::EnvVarNotSet& e) const {
        return "environment variable " + e.variable +
               " is not set — set it to the master passphrase before running quillbox";
    }
    std::string operator()(const errors::InvalidVariableName&) const {
        return "the name given for the passphrase's environment variable is not a variable name "
               "([A-Za-z_][A-Za-z0-9_]*), so it is not shown — give the variable's name, never "
               "the passphrase itself";
    }
    std::string operator()(const errors::OsError& e) const { return os_error_text(e.code); }
    std::string operator()(const errors::IoMessage& e) const { return e.message; }
};

}  // namespace

ErrorCategory category_of(ErrorKind kind) {
    switch (kind) {
#define QUILLBOX_KIND_CATEGORY(name, category, exception) \
    case ErrorKind::name: return ErrorCategory::category;
        QUILLBOX_ERROR_KINDS(QUILLBOX_KIND_CATEGORY)
#undef QUILLBOX_KIND_CATEGORY
    }
    return ErrorCategory::Io;
}

ExceptionClass exception_class_of(ErrorKind kind) {
    switch (kind) {
#define QUILLBOX_KIND_EXCEPTION(name, category, exception) \
    case ErrorKind::name: return ExceptionClass::exception;
        QUILLBOX_ERROR_KINDS(QUILLBOX_KIND_EXCEPTION)
#undef QUILLBOX_KIND_EXCEPTION
    }
    return ExceptionClass::QuillBoxError;
}

const char* kind_name(ErrorKind kind) {
    switch (kind) {
#define QUILLBOX_KIND_TEXT(name, category, exception) \
    case ErrorKind::name: return #name;
        QUILLBOX_ERROR_KINDS(QUILLBOX_KIND_TEXT)
#undef QUILLBOX_KIND_TEXT
    }
    return "";
}

CoreError CoreError::from_errno() {
    return errors::OsError{errno};
}

ErrorKind CoreError::kind() const {
    return std::visit([](const auto& detail) { return detail.kind; }, detail_);
}

ErrorCategory CoreError::category() const {
    return category_of(kind());
}

bool CoreError::is_os_error(std::initializer_list<int> codes) const {
    const auto* os_error = std::get_if<errors::OsError>(&detail_);
    return os_error != nullptr && std::ranges::find(codes, os_error->code) != codes.end();
}

CoreError CoreError::in_circumstance(std::string circumstance) && {
    circumstance_ = std::move(circumstance);
    return std::move(*this);
}

std::string CoreError::to_text() const {
    std::string text = category_prefix(category()) + std::visit(MessageWriter{}, detail_);
    if (!circumstance_.empty()) text.append(" (").append(circumstance_).push_back(')');
    return text;
}

}  // namespace quillbox
