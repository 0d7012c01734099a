#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/locked_region.hpp"
#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
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
// the named variable again. Dropping the state unlocks the recorded regions and
// wipes every value.
//
// Every locked-region record describes a value buffer that the state still
// owns: when a value is replaced or removed, its record goes first. The record
// is dropped without unlocking, because the same pages may hold other values
// that must stay locked.
struct VaultState {
    // As the caller gave it, or the default path; neither made absolute nor resolved.
    std::filesystem::path vault_path;
    // The name of the environment variable that holds the master passphrase.
    std::string master_key_env;
    // The file's order, then entries in the order added; names are unique.
    VaultEntries entries;
    LockedRegions locked_regions;
    // Those of the file that was opened, reused by every save and export.
    KdfParams kdf_params;
    // The commit tag of the file as this state last read or wrote it: a save
    // that finds another tag in the file knows that another process changed it.
    MacTag file_commit_tag;

    // Locks every value into memory, in entry order.
    VaultState(std::filesystem::path vault_path, std::string master_key_env, VaultEntries entries,
               KdfParams kdf_params, const MacTag& file_commit_tag);
    ~VaultState();
    VaultState(VaultState&& other) noexcept;
    VaultState& operator=(VaultState&& other) noexcept;
    VaultState(const VaultState&) = delete;
    VaultState& operator=(const VaultState&) = delete;

    // The first entry with this name (compared byte for byte), or null.
    VaultEntry* find_entry(std::string_view name);

    // Puts `value` in place of the entry's value, which is wiped and freed. The
    // entry keeps its position and its name.
    void replace_value(VaultEntry& entry, SecretBytes value);

    // Appends an entry whose name is not present yet, or fails with
    // EntryLimitExceeded when the vault is full.
    Status append_entry(VaultEntry entry, ValueLocking locking);

    // Removes the first entry with this name, wiping its value, and closes the
    // gap without reordering; false when there is none.
    bool remove_entry(std::string_view name);

private:
    void lock_value(const SecretBytes& value);
    void forget_locked_value(const SecretBytes& value);
    void release();
};

}  // namespace quillbox
