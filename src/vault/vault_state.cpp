#include "vault/vault_state.hpp"

#include <algorithm>
#include <atomic>
#include <utility>

namespace quillbox {
namespace {

std::uint64_t next_revision() {
    static std::atomic<std::uint64_t> last{0};
    return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

VaultState::VaultState(std::filesystem::path vault_path, std::string master_key_env,
                       VaultEntries entries, KdfParams kdf_params, const MacTag& file_commit_tag,
                       bool allow_insecure_permissions)
    : vault_path_(std::move(vault_path)),
      master_key_env_(std::move(master_key_env)),
      entries_(std::move(entries)),
      kdf_params_(kdf_params),
      file_commit_tag_(file_commit_tag),
      allow_insecure_permissions_(allow_insecure_permissions),
      revision_(next_revision()) {
    for (VaultEntry& entry : entries_) entry.value.lock_into_memory();
}

void VaultState::mark_changed() {
    revision_ = next_revision();
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
    mark_changed();
    return true;
}

Status VaultState::append_entry(VaultEntry entry, ValueLocking locking) {
    if (entries_.size() >= kMaxVaultEntries) {
        return fail(errors::EntryLimitExceeded{kMaxVaultEntries});
    }
    entries_.push_back(std::move(entry));
    if (locking == ValueLocking::Lock) entries_.back().value.lock_into_memory();
    mark_changed();
    return {};
}

bool VaultState::remove_entry(std::string_view name) {
    const auto found = find_entry(name);
    if (found == entries_.end()) return false;
    entries_.erase(found);
    mark_changed();
    return true;
}

}  // namespace quillbox
