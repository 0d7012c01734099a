#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "vault/file_identity.hpp"
#include "vault/hmac_sha256.hpp"
#include "vault/kdf_params.hpp"

namespace quillbox {

// The most entries a vault takes. Only adding a name that is not there yet is
// refused beyond it; a file that already holds more still opens.
inline constexpr std::size_t kMaxVaultEntries = 10'000;

// Values read from a vault file are locked into memory; values handed in by a
// caller's set are not.
enum class ValueLocking { Lock, DoNotLock };

// An open vault. It keeps no passphrase: every operation that needs one reads
// the named variable again. Each value owns its buffer and the buffer's lock,
// so a value replaced or removed, and every value when the state goes, is
// wiped and then unlocked on its own.
class VaultState {
public:
    // Locks every value into memory, in entry order.
    VaultState(std::filesystem::path vault_path, std::string master_key_env, VaultEntries entries,
               KdfParams kdf_params, const MacTag& file_commit_tag,
               bool allow_insecure_permissions);

    // As the caller gave it, or the default path; neither made absolute nor resolved.
    const std::filesystem::path& vault_path() const { return vault_path_; }
    // The name of the environment variable that holds the master passphrase.
    const std::string& master_key_env() const { return master_key_env_; }
    // The file's order, then entries in the order added; names are unique.
    const VaultEntries& entries() const { return entries_; }
    // Those of the file that was opened, reused by every save and export.
    const KdfParams& kdf_params() const { return kdf_params_; }
    // The passphrase's variable and the costs that the next write uses.
    void use_master_key(std::string master_key_env, const KdfParams& kdf_params) {
        master_key_env_ = std::move(master_key_env);
        kdf_params_ = kdf_params;
    }
    // The commit tag of the file as this state last read or wrote it: a save
    // that finds another tag in the file knows that another process changed it.
    const MacTag& file_commit_tag() const { return file_commit_tag_; }
    void set_file_commit_tag(const MacTag& tag) { file_commit_tag_ = tag; }
    // What stat told of that file; nothing when it could not be told.
    const std::optional<FileIdentity>& file_identity() const { return file_identity_; }
    void set_file_identity(const std::optional<FileIdentity>& identity) {
        file_identity_ = identity;
    }
    // As the vault was opened: every later read of the file checks its modes so.
    bool allow_insecure_permissions() const { return allow_insecure_permissions_; }

    // Tells states and their entries apart: no two states of this process
    // share a revision, and every change of the entries gives a new one. What
    // is derived from the entries stays valid while the revision does.
    std::uint64_t revision() const { return revision_; }

    // The value of the first entry with this name (compared byte for byte), or null.
    const SecretBytes* find_value(std::string_view name) const;

    // Puts `value` in place of the named entry's value, which is wiped and
    // freed; the entry keeps its position. False when there is no such entry.
    bool replace_value(std::string_view name, SecretBytes value);

    // Appends an entry whose name is not present yet, or fails with
    // EntryLimitExceeded when the vault is full.
    Status append_entry(VaultEntry entry, ValueLocking locking);

    // Removes the first entry with this name, wiping its value, and closes the
    // gap without reordering; false when there is none.
    bool remove_entry(std::string_view name);

private:
    VaultEntries::iterator find_entry(std::string_view name);
    void mark_changed();

    std::filesystem::path vault_path_;
    std::string master_key_env_;
    VaultEntries entries_;
    KdfParams kdf_params_;
    MacTag file_commit_tag_;
    std::optional<FileIdentity> file_identity_;
    bool allow_insecure_permissions_;
    std::uint64_t revision_;
};

}  // namespace quillbox
