#include "vault/vault_state.hpp"

#include <algorithm>
#include <utility>

namespace quillbox {

VaultState::VaultState(std::filesystem::path vault_path, std::string master_key_env,
                       VaultEntries entries, KdfParams kdf_params, const MacTag& file_commit_tag)
    : vault_path_(std::move(vault_path)),
      master_key_env_(std::move(master_key_env)),
      entries_(std::move(entries)),
      kdf_params_(kdf_params),
      file_commit_tag_(file_commit_tag) {
    for (VaultEntry& entry : entries_) entry.value.lock_into_memory();
}

VaultEntries::iterator VaultState::find_entry(std::string_view name) {
    return std::ranges::find(entries_, name, &VaultEntry::name);
}

const SecretBytes* VaultState::find_value(std::string_view name) const {
    const auto found = std::ranges::find(entries_, name, &VaultEntry::name);
    return found == entries_.end() ? nullptr : &found->value;
}

bool VaultState::replace_value(std::string_view name, SecretBytes value) {
    const auto found = find_entry(name);
    if (found == entries_.end()) return false;
    // The old buffer is wiped and unlocked when `value`, which now holds it,
    // goes out of scope.
    std::swap(found->value, value);
    return true;
}

Status VaultState::append_entry(VaultEntry entry, ValueLocking locking) {
    if (entries_.size() >= kMaxVaultEntries) {
        return fail(errors::EntryLimitExceeded{kMaxVaultEntries});
    }
    entries_.push_back(std::move(entry));
    if (locking == ValueLocking::Lock) entries_.back().value.lock_into_memory();
    return {};
}

bool VaultState::remove_entry(std::string_view name) {
    const auto found = find_entry(name);
    if (found == entries_.end()) return false;
    entries_.erase(found);
    return true;
}

}  // namespace quillbox
