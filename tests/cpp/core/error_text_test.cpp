#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/error.hpp"

namespace quillbox {
namespace {

struct ErrorCase {
    CoreError error;
    ErrorCategory category;
    ErrorKind kind;
    std::string text;
};

std::vector<ErrorCase> error_cases() {
    using C = ErrorCategory;
    using K = ErrorKind;
    return {
        {errors::RejectedMetacharacter{U'|', 9}, C::Tokenization, K::RejectedMetacharacter,
         "tokenization error: rejected shell metacharacter '|' at byte offset 9 — wrap it in "
         "quotes if it is intended to be literal"},
        {errors::MalformedPlaceholder{"{{KEY"}, C::Tokenization, K::MalformedPlaceholder,
         "tokenization error: malformed placeholder: {{KEY — missing closing '}'"},
        {errors::InvalidPlaceholderKey{"{{1X}}"}, C::Tokenization, K::InvalidPlaceholderKey,
         "tokenization error: invalid placeholder key name in {{1X}} — key names must match "
         "[A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain only letters, "
         "digits, and underscores)"},
        {errors::UnclosedSingleQuote{4}, C::Tokenization, K::UnclosedSingleQuote,
         "tokenization error: unclosed single-quoted string starting at byte offset 4"},
        {errors::UnclosedDoubleQuote{0}, C::Tokenization, K::UnclosedDoubleQuote,
         "tokenization error: unclosed double-quoted string starting at byte offset 0"},
        {errors::TrailingBackslash{}, C::Tokenization, K::TrailingBackslash,
         "tokenization error: trailing backslash at end of command string — nothing to escape"},
        {errors::EmptyCommand{}, C::Tokenization, K::EmptyCommand,
         "tokenization error: command string is empty — nothing to execute"},
        {errors::EmptyKeyName{}, C::Tokenization, K::EmptyKeyName,
         "tokenization error: key name is empty — key names must match [A-Za-z_][A-Za-z0-9_]* "
         "(start with a letter or underscore, contain only letters, digits, and underscores)"},
        {errors::VaultNotFound{"/home/u/vault.bin"}, C::Vault, K::VaultNotFound,
         "vault error: vault not found at \"/home/u/vault.bin\" — run `quillbox init` to create "
         "one"},
        {errors::HeaderMacMismatch{}, C::Vault, K::HeaderMacMismatch,
         "vault error: vault header HMAC mismatch — the vault header may have been tampered with "
         "or corrupted"},
        {errors::CommitTagMismatch{}, C::Vault, K::CommitTagMismatch,
         "vault error: vault commit-tag HMAC mismatch — the vault file may have been tampered "
         "with, truncated, or corrupted"},
        {errors::EntryTagMismatch{3}, C::Vault, K::EntryTagMismatch,
         "vault error: GCM authentication tag mismatch for entry at index 3 — possible wrong "
         "passphrase or ciphertext corruption"},
        {errors::InsecurePermissions{"/v", 0100644}, C::Vault, K::InsecurePermissions,
         "vault error: vault file \"/v\" has insecure permissions (mode 0o100644) — expected 0600 "
         "(owner read/write only). Use --allow-insecure-permissions to override"},
        {errors::DecryptionFailed{}, C::Vault, K::DecryptionFailed,
         "vault error: decryption failed — the master passphrase is incorrect or the vault is "
         "corrupt"},
        {errors::UnsupportedVersion{7, 1}, C::Vault, K::UnsupportedVersion,
         "vault error: vault format version 7 is not supported by this binary (maximum "
         "supported: 1) — upgrade quillbox to open this vault"},
        {errors::InvalidVersion{0}, C::Vault, K::InvalidVersion,
         "vault error: vault format version 0 is invalid — the vault file may be corrupt"},
        {errors::EntryLimitExceeded{10000}, C::Vault, K::EntryLimitExceeded,
         "vault error: vault entry limit exceeded — the vault already contains 10000 entries (the "
         "maximum). Delete unused entries before adding new ones"},
        {errors::LockTimeout{"/v.lock", 30}, C::Vault, K::LockTimeout,
         "vault error: vault is locked by another process (lockfile: \"/v.lock\"). Waited 30s "
         "without acquiring the lock. If the lock is stale, delete the lockfile and retry"},
        {errors::BadMagic{{0, 0, 0, 0, 0, 0, 0, 0}}, C::Vault, K::BadMagic,
         "vault error: vault file does not start with the expected magic bytes (found [0, 0, 0, "
         "0, 0, 0, 0, 0]) — this is not a quillbox vault file"},
        {errors::BadMagic{{81, 85, 73, 76, 76, 66, 79, 255}}, C::Vault, K::BadMagic,
         "vault error: vault file does not start with the expected magic bytes (found [81, 85, "
         "73, 76, 76, 66, 79, 255]) — this is not a quillbox vault file"},
        {errors::Truncated{138, 0}, C::Vault, K::Truncated,
         "vault error: vault file is truncated — expected at least 138 bytes but found 0 bytes"},
        {errors::UnsafePath{"/s/v.lock", "is a FIFO — remove it"}, C::Vault, K::UnsafePath,
         "vault error: \"/s/v.lock\" is a FIFO — remove it"},
        {errors::UnclosedPlaceholder{"{{if .X"}, C::Placeholder, K::UnclosedPlaceholder,
         "placeholder error: malformed placeholder: {{if .X — missing closing '}' — braces of a "
         "template pass through when a space follows {{, as in {{ end }}"},
        {errors::InvalidPlaceholder{"{{range .X}}"}, C::Placeholder, K::InvalidPlaceholder,
         "placeholder error: invalid placeholder key name in {{range .X}} — key names must match "
         "[A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain only letters, "
         "digits, and underscores) — braces of a template pass through when a space follows {{, "
         "as in {{ end }}"},
        {errors::UnresolvedPlaceholder{"API_KEY"}, C::Placeholder, K::UnresolvedPlaceholder,
         "placeholder error: unresolved placeholder {{{key}}} — no entry with that name exists in "
         "the vault. Use `quillbox set API_KEY` to add it"},
        {errors::UnresolvedPlaceholder{"end", true}, C::Placeholder, K::UnresolvedPlaceholder,
         "placeholder error: unresolved placeholder {{{key}}} — no entry with that name exists in "
         "the vault. Use `quillbox set end` to add it — braces of a template pass through when a "
         "space follows {{, as in {{ end }}"},
        {errors::EmptyArgumentVector{}, C::Spawn, K::EmptyArgumentVector,
         "spawn error: argument vector is empty — nothing to execute"},
        {errors::InvalidEnvironmentName{"A=B"}, C::Spawn, K::InvalidEnvironmentName,
         "spawn error: invalid environment variable name \"A=B\" — a name must be non-empty and "
         "hold no '=', no NUL byte and no \"{{\""},
        {errors::CommandNotFound{"nosuch"}, C::Spawn, K::CommandNotFound,
         "spawn error: command not found: nosuch — verify the binary exists and is on PATH"},
        {errors::CommandNotExecutable{"./x"}, C::Spawn, K::CommandNotExecutable,
         "spawn error: command not executable: ./x — check file permissions and ensure the file "
         "is a valid executable"},
        {errors::SpawnFailed{"prog", "argument contains interior NUL byte"}, C::Spawn,
         K::SpawnFailed, "spawn error: failed to spawn prog: argument contains interior NUL byte"},
        {errors::NoMemoryFolder{"XDG_RUNTIME_DIR is not set", "\"/dev/shm\" is not on tmpfs"},
         C::Spawn, K::NoMemoryFolder,
         "spawn error: no folder in memory for the files of {{file:KEY}}: XDG_RUNTIME_DIR is not "
         "set, and \"/dev/shm\" is not on tmpfs — set XDG_RUNTIME_DIR to a folder of yours with "
         "mode 0700 on tmpfs (as /run/user/UID is), or mount tmpfs on /dev/shm"},
        {errors::AutomatonBuildFailed{"too many states"}, C::Redaction, K::AutomatonBuildFailed,
         "redaction error: failed to build redaction pattern automaton: too many states"},
        {errors::EnvVarNotSet{"QUILLBOX_KEY"}, C::MasterKey, K::EnvVarNotSet,
         "master key error: environment variable QUILLBOX_KEY is not set — set it to the master "
         "passphrase before running quillbox"},
        {errors::InvalidVariableName{}, C::MasterKey, K::InvalidVariableName,
         "master key error: the name given for the passphrase's environment variable is not a "
         "variable name ([A-Za-z_][A-Za-z0-9_]*), so it is not shown — give the variable's name, "
         "never the passphrase itself"},
        {errors::OsError{ENOENT}, C::Io, K::OsError,
         "I/O error: No such file or directory (os error 2)"},
        {errors::IoMessage{"RNG fill failed"}, C::Io, K::IoMessage, "I/O error: RNG fill failed"},
    };
}

TEST(CoreError, EveryKindHasItsCategoryAndExactText) {
    for (const ErrorCase& c : error_cases()) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.error.category(), c.category);
        EXPECT_EQ(c.error.kind(), c.kind);
        EXPECT_EQ(c.error.to_text(), c.text);
    }
}

TEST(CoreError, FromErrnoCarriesTheCurrentErrorNumber) {
    errno = EACCES;
    const CoreError error = CoreError::from_errno();
    EXPECT_EQ(error.to_text(), "I/O error: Permission denied (os error 13)");
}

TEST(CoreError, ACircumstanceEndsTheTextAndChangesNothingElse) {
    const CoreError error =
        CoreError(errors::OsError{EROFS}).in_circumstance("saving \"/v\" needs its lockfile");
    EXPECT_EQ(error.kind(), ErrorKind::OsError);
    EXPECT_EQ(error.to_text(),
              "I/O error: Read-only file system (os error 30) (saving \"/v\" needs its lockfile)");
}

struct EscapeCase {
    std::string path;
    std::string shown;
};

TEST(CoreError, PathsAreQuotedAndEscaped) {
    const std::vector<EscapeCase> cases = {
        {"/tmp/a\"b", R"("/tmp/a\"b")"},
        {"C:\\dir", R"("C:\\dir")"},
        {std::string("a\tb\rc\nd\0e", 9), R"("a\tb\rc\nd\0e")"},
        {"it's", R"("it's")"},
        {"\x1b[0m", R"("\u{1b}[0m")"},
        {"e\xCC\x81", R"("e\u{301}")"},                      // combining acute accent
        {"\xF0\x9F\x98\x80 ok", "\"\xF0\x9F\x98\x80 ok\""},  // printable emoji kept
        {"\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},             // unassigned
        {"\xE2\x80\x8B", R"("\u{200b}")"},                   // zero-width space (format)
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
        {"bad\xFFname", R"("bad\xFFname")"},
        {"cut\xE2\x82", R"("cut\xE2\x82")"},  // an incomplete sequence: each byte shown
    };
    for (const EscapeCase& c : cases) {
        SCOPED_TRACE(c.shown);
        const CoreError error = errors::VaultNotFound{c.path};
        EXPECT_EQ(error.to_text(), "vault error: vault not found at " + c.shown +
                                       " — run `quillbox init` to create one");
    }
}

TEST(CoreError, MetacharactersAreShownInSingleQuotesWithTheirOwnEscapes) {
    const std::vector<std::pair<char32_t, std::string>> cases = {
        {U'|', "'|'"},      {U'\'', R"('\'')"}, {U'"', R"('"')"},         {U'\\', R"('\\')"},
        {U'\n', R"('\n')"}, {U'\0', R"('\0')"}, {U'\x7f', R"('\u{7f}')"}, {U'é', "'é'"},
    };
    for (const auto& [ch, shown] : cases) {
        SCOPED_TRACE(shown);
        const CoreError error = errors::RejectedMetacharacter{ch, 0};
        EXPECT_EQ(error.to_text(), "tokenization error: rejected shell metacharacter " + shown +
                                       " at byte offset 0 — wrap it in quotes if it is intended "
                                       "to be literal");
    }
}

}  // namespace
}  // namespace quillbox
