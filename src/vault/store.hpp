#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.hpp"
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

// Switches core dumps off, checks that the file exists, and, under the shared
// lockfile lock, that it is a regular file (a link to one is followed) owned by
// this user that grants nothing to group or others (unless allowed); reads
// it, decodes it with the passphrase from `master_key_env`, and locks every
// value into memory. The lock is waited for on `clock`.
Result<VaultState> open_vault(std::string_view master_key_env,
                              const std::optional<std::filesystem::path>& vault_path,
                              bool allow_insecure_permissions, Clock& clock = real_clock());

// Brings the state up to what the vault file holds now, so that another
// process's save since this state last read or wrote it is seen. The file's
// identity is checked first (one stat: device, inode, size and times); only a
// file that differs is read again, under the shared lock and with the modes
// checked as open does, and decoded unless its commit tag is the one the state
// holds. Times too recent to tell a write within the same tick apart send the
// check to the commit tag instead. A file that is gone fails with
// VaultNotFound, one that cannot be read or decoded (another passphrase,
// damage) with that error; the state then stays as it was, and a later call
// checks again. The state is replaced as a whole when the file changed: the
// revision moves on, and with it everything derived from the entries.
Status refresh_vault(VaultState& state, Clock& clock = real_clock());

// Inserts or replaces (keeping the entry's position), then saves, waiting for
// the lockfile on `clock`. A bad name fails before anything changes. If the
// save fails, the change stays in memory and the file keeps its old contents.
Status set_entry(VaultState& state, std::string_view name, SecretBytes value,
                 Clock& clock = real_clock());

// Inserts or replaces each entry in turn, as set_entry does, then saves once:
// loading many entries costs one key derivation, not one each. Every name is
// checked, and the room for the new ones, before anything changes; a name
// given twice keeps its later value. If the save fails, the changes stay in
// memory and the file keeps its old contents.
Status set_entries(VaultState& state, std::vector<VaultEntry> entries, Clock& clock = real_clock());

// True when an entry of that name existed: it is removed and the vault saved,
// waiting for the lockfile on `clock`. False when there was none: nothing is
// saved.
Result<bool> delete_entry(VaultState& state, std::string_view name, Clock& clock = real_clock());

// Copies of the names, in stored order.
std::vector<std::string> list_entry_names(const VaultState& state);

// The change a save writes, as it can be made again on another state.
using VaultChange = std::function<Status(VaultState&)>;

// How a save that could not merge with another process's change ends its
// error's text.
inline constexpr std::string_view kUnmergedSaveCircumstance =
    "another process changed the vault file after this vault last read it, and it could not be "
    "merged; the vault file is unchanged and this change is not saved";

// Saves a state that holds `change` already. Every entry is encoded under a
// fresh salt and the passphrase read now; then, holding the exclusive lockfile
// lock (waited for on `clock`), the vault file is replaced atomically, if it is
// still the file this state last read or wrote. If another process changed it
// since, the file is read and decoded instead, `change` is made again on what
// it holds, and that is written and becomes the state, so that no other
// process's change is lost. A file that cannot be decoded then (another
// passphrase, damage) fails the save with that error: the file and the state
// stay as they are.
Status save_vault(VaultState& state, const VaultChange& change, Clock& clock = real_clock());

// Writes the vault again under the passphrase in `new_master_key_env` and with
// `new_params`, as a save does: atomically and under the exclusive lockfile
// lock, with another process's change since this state read the file taken
// in (read under the old passphrase). Every entry is kept as it is. From then
// on the state reads its passphrase from the new variable. Costs beyond what
// a vault may ask for, or an unset variable, fail before anything is written;
// on any failure the state and the file keep the old passphrase and costs.
Status rekey_vault(VaultState& state, std::string_view new_master_key_env,
                   const KdfParams& new_params, Clock& clock = real_clock());

// Takes the state out and wipes it; nothing happens when it is already gone.
void close_vault(std::optional<VaultState>& state);

}  // namespace quillbox
