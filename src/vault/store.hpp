#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "vault/vault_state.hpp"

namespace quillbox {

// The vault store: opening a vault file into a VaultState and the entry
// operations on it. Every change is saved at once. Nothing here is shared
// between states: the caller serialises the operations on one state.

// HOME/.local/share/quillbox/vault.bin, with "/tmp" for a HOME that is unset or
// not UTF-8 (an empty HOME gives a relative path).
std::filesystem::path default_vault_path();

// Switches core dumps off, checks that the file exists and grants nothing to
// group or others (unless allowed), reads it under the shared lockfile lock,
// decodes it with the passphrase from `master_key_env`, and locks every value
// into memory.
Result<VaultState> open_vault(std::string_view master_key_env,
                              const std::optional<std::filesystem::path>& vault_path,
                              bool allow_insecure_permissions);

// Inserts or replaces (keeping the entry's position), then saves. A bad name
// fails before anything changes. If the save fails, the change stays in memory
// and the file keeps its old contents.
Status set_entry(VaultState& state, std::string_view name, SecretBytes value);

// True when an entry of that name existed: it is removed and the vault saved.
// False when there was none: nothing is saved.
Result<bool> delete_entry(VaultState& state, std::string_view name);

// Copies of the names, in stored order.
std::vector<std::string> list_entry_names(const VaultState& state);

// Encodes every entry under a fresh salt and the passphrase read now, then,
// holding the exclusive lockfile lock, replaces the vault file atomically.
Status save_vault(const VaultState& state);

// Takes the state out and wipes it; nothing happens when it is already gone.
void close_vault(std::optional<VaultState>& state);

}  // namespace quillbox
