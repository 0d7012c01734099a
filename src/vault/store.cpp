#include "vault/store.hpp"

#include <fcntl.h>

#include <cstdlib>

#include "core/core_dumps.hpp"
#include "core/key_name.hpp"
#include "core/utf8.hpp"
#include "vault/atomic_write.hpp"
#include "vault/file_io.hpp"
#include "vault/format.hpp"
#include "vault/lockfile.hpp"

namespace quillbox {
namespace {

Status check_permissions(const std::filesystem::path& vault_path, const struct stat& metadata,
                         bool allow_insecure_permissions) {
    const auto mode = static_cast<std::uint32_t>(metadata.st_mode);
    if ((mode & 077) != 0 && !allow_insecure_permissions) {
        return fail(errors::InsecurePermissions{vault_path, mode});
    }
    return {};
}

// The whole file, read while the shared lockfile lock keeps saves out. The
// vault file is closed before the lock is dropped.
Result<std::vector<unsigned char>> read_vault_file(const std::filesystem::path& vault_path) {
    Result<SharedVaultLock> lock = acquire_shared_vault_lock(vault_path);
    if (!lock) return fail(lock.error());
    Result<UniqueFd> fd = open_file(vault_path, O_RDONLY);
    if (!fd) return fail(fd.error());
    return read_to_end(fd->get());
}

Status check_key_name(std::string_view name) {
    if (name.empty()) return fail(errors::EmptyKeyName{});
    if (const std::optional<KeyNameViolation> violation = find_key_name_violation(name)) {
        return fail(errors::RejectedMetacharacter{violation->character, violation->position});
    }
    return {};
}

}  // namespace

std::filesystem::path default_vault_path() {
    const char* home = std::getenv("HOME");
    const std::filesystem::path base = home != nullptr && is_valid_utf8(home) ? home : "/tmp";
    return base / ".local" / "share" / "quillbox" / "vault.bin";
}

Result<VaultState> open_vault(std::string_view master_key_env,
                              const std::optional<std::filesystem::path>& vault_path,
                              bool allow_insecure_permissions) {
    suppress_core_dumps();
    std::filesystem::path path = vault_path ? *vault_path : default_vault_path();
    // Any failure to see the file (missing, a dangling link, a directory on the
    // way that cannot be searched) means there is no vault to open.
    const Result<struct stat> metadata = stat_path(path);
    if (!metadata) return fail(errors::VaultNotFound{path});
    if (Status allowed = check_permissions(path, *metadata, allow_insecure_permissions); !allowed) {
        return fail(allowed.error());
    }
    const Result<std::vector<unsigned char>> image = read_vault_file(path);
    if (!image) return fail(image.error());
    Result<DecodedVault> decoded = decode_vault(*image, master_key_env);
    if (!decoded) return fail(decoded.error());
    return VaultState(std::move(path), std::string(master_key_env), std::move(decoded->entries),
                      decoded->params);
}

Status set_entry(VaultState& state, std::string_view name, SecretBytes value) {
    if (Status valid = check_key_name(name); !valid) return valid;
    if (VaultEntry* existing = state.find_entry(name)) {
        state.replace_value(*existing, std::move(value));
    } else if (Status added = state.append_entry(VaultEntry{std::string(name), std::move(value)},
                                                 ValueLocking::DoNotLock);
               !added) {
        return added;
    }
    return save_vault(state);
}

Result<bool> delete_entry(VaultState& state, std::string_view name) {
    if (!state.remove_entry(name)) return false;
    if (Status saved = save_vault(state); !saved) return fail(saved.error());
    return true;
}

std::vector<std::string> list_entry_names(const VaultState& state) {
    std::vector<std::string> names;
    names.reserve(state.entries.size());
    for (const VaultEntry& entry : state.entries) names.push_back(entry.name);
    return names;
}

Status save_vault(const VaultState& state) {
    // The image is built before the lock is taken, so that the key derivation
    // does not keep other processes waiting.
    const Result<VaultImage> image =
        encode_vault(state.entries, state.kdf_params, state.master_key_env);
    if (!image) return fail(image.error());
    const Result<VaultLockGuard> lock = acquire_vault_lock(state.vault_path);
    if (!lock) return fail(lock.error());
    return write_atomically(state.vault_path, *image);
}

void close_vault(std::optional<VaultState>& state) {
    state.reset();
}

}  // namespace quillbox
