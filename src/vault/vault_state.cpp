#include "vault/vault_state.hpp"

#include <algorithm>
#include <utility>

namespace quillbox {

VaultState::VaultState(std::filesystem::path vault_path, std::string master_key_env,
                       VaultEntries entries, KdfParams kdf_params, const MacTag& file_commit_tag)
    : vault_path(std::move(vault_path)),
      master_key_env(std::move(master_key_env)),
      entries(std::move(entries)),
      kdf_params(kdf_params),
      file_commit_tag(file_commit_tag) {
    for (const VaultEntry& entry : this->entries) lock_value(entry.value);
}

VaultState::~VaultState() {
    release();
}

VaultState::VaultState(VaultState&& other) noexcept
    : vault_path(std::move(other.vault_path)),
      master_key_env(std::move(other.master_key_env)),
      entries(std::exchange(other.entries, {})),
      locked_regions(std::exchange(other.locked_regions, {})),
      kdf_params(other.kdf_params),
      file_commit_tag(other.file_commit_tag) {}

VaultState& VaultState::operator=(VaultState&& other) noexcept {
    if (this == &other) return *this;
    release();
    vault_path = std::move(other.vault_path);
    master_key_env = std::move(other.master_key_env);
    entries = std::exchange(other.entries, {});
    locked_regions = std::exchange(other.locked_regions, {});
    kdf_params = other.kdf_params;
    file_commit_tag = other.file_commit_tag;
    return *this;
}

void VaultState::release() {
    release_locked_secrets(locked_regions, entries);
}

VaultEntry* VaultState::find_entry(std::string_view name) {
    const auto found = std::ranges::find(entries, name, &VaultEntry::name);
    return found == entries.end() ? nullptr : &*found;
}

void VaultState::replace_value(VaultEntry& entry, SecretBytes value) {
    forget_locked_value(entry.value);
    // The old buffer is wiped when `value`, which now holds it, goes out of scope.
    std::swap(entry.value, value);
}

Status VaultState::append_entry(VaultEntry entry, ValueLocking locking) {
    if (entries.size() >= kMaxVaultEntries) {
        return fail(errors::EntryLimitExceeded{kMaxVaultEntries});
    }
    entries.push_back(std::move(entry));
    if (locking == ValueLocking::Lock) lock_value(entries.back().value);
    return {};
}

bool VaultState::remove_entry(std::string_view name) {
    const auto found = std::ranges::find(entries, name, &VaultEntry::name);
    if (found == entries.end()) return false;
    forget_locked_value(found->value);
    entries.erase(found);
    return true;
}

void VaultState::lock_value(const SecretBytes& value) {
    if (lock_region(value.data(), value.size())) {
        locked_regions.push_back({reinterpret_cast<std::uintptr_t>(value.data()),
                                  static_cast<std::uint64_t>(value.size())});
    }
}

void VaultState::forget_locked_value(const SecretBytes& value) {
    const LockedRegion region{reinterpret_cast<std::uintptr_t>(value.data()),
                              static_cast<std::uint64_t>(value.size())};
    const auto found = std::ranges::find_if(locked_regions, [&](const LockedRegion& recorded) {
        return recorded.address == region.address && recorded.length == region.length;
    });
    if (found != locked_regions.end()) locked_regions.erase(found);
}

}  // namespace quillbox
