#include "vault/store.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <unordered_set>

#include "core/core_dumps.hpp"
#include "core/key_name.hpp"
#include "core/utf8.hpp"
#include "vault/atomic_write.hpp"
#include "vault/checked_open.hpp"
#include "vault/file_identity.hpp"
#include "vault/file_io.hpp"
#include "vault/format.hpp"
#include "vault/image_file.hpp"
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

// The whole file as read while the shared lockfile lock keeps saves out, and
// what fstat told of it.
struct VaultFileRead {
    std::vector<unsigned char> image;
    struct stat metadata;
};

// The file is opened without blocking and checked through its descriptor, so
// that a FIFO or a device is refused before anything waits on it, and nothing
// can be put in its place between the check and the read. The vault file is
// closed before the lock is dropped.
Result<VaultFileRead> read_vault_file(const std::filesystem::path& vault_path,
                                      bool allow_insecure_permissions, Clock& clock) {
    Result<SharedVaultLock> lock = acquire_shared_vault_lock(vault_path, clock);
    if (!lock) return fail(lock.error());
    Result<CheckedFile> file = open_checked_file(vault_path, O_RDONLY, 0, FileRole::VaultFile);
    if (!file) return fail(file.error());
    if (Status allowed = check_permissions(vault_path, file->metadata, allow_insecure_permissions);
        !allowed) {
        return fail(allowed.error());
    }
    Result<std::vector<unsigned char>> image = read_image_file(*file);
    if (!image) return fail(image.error());
    return VaultFileRead{std::move(*image), file->metadata};
}

// The commit tag at the end of the open file, if it is long enough to hold one.
std::optional<MacTag> read_commit_tag(int fd, const struct stat& metadata) {
    const auto size = static_cast<std::uint64_t>(metadata.st_size);
    if (size < kMinImageSize) return std::nullopt;
    MacTag tag{};
    const auto offset = static_cast<off_t>(size - kMacSize);
    if (::pread(fd, tag.data(), tag.size(), offset) != static_cast<ssize_t>(kMacSize)) {
        return std::nullopt;
    }
    return tag;
}

// Records what stat tells of the file just written, under the exclusive lock
// that keeps anyone else from replacing it meanwhile; nothing when it cannot
// be told, so that the next check reads the file.
void record_written_file(VaultState& state, Clock& clock) {
    const Result<struct stat> metadata = stat_path(state.vault_path());
    state.set_file_identity(metadata ? std::optional(identify_file(*metadata, clock.wall_now()))
                                     : std::nullopt);
}

// Whether the file at the vault path is the one the state last read or wrote,
// by its commit tag, read through one descriptor; its identity is recorded
// again when it is.
bool confirm_commit_tag(VaultState& state, Clock& clock) {
    Result<CheckedFile> file =
        open_checked_file(state.vault_path(), O_RDONLY, 0, FileRole::VaultFile);
    if (!file) return false;
    const std::optional<MacTag> tag = read_commit_tag(file->fd.get(), file->metadata);
    if (!tag || *tag != state.file_commit_tag()) return false;
    if (match_file(state.file_identity(), file->metadata) == FileMatch::Different) return false;
    state.set_file_identity(identify_file(file->metadata, clock.wall_now()));
    return true;
}

// Reads the file as an open does. Unless it holds the bytes the state last
// read or wrote (its commit tag, and a file not written since), it is decoded:
// a file written in place may differ before its tag. If it is another vault,
// what it holds takes the state's place; if it is the same one, the state
// stays, with any change a failed save left in it. The state stays as it is
// when anything fails.
Status reload_vault(VaultState& state, Clock& clock) {
    Result<VaultFileRead> read =
        read_vault_file(state.vault_path(), state.allow_insecure_permissions(), clock);
    if (!read) return fail(read.error());
    const FileIdentity identity = identify_file(read->metadata, clock.wall_now());
    const bool same_tag = read->image.size() >= kMinImageSize &&
                          commit_tag_of(read->image) == state.file_commit_tag();
    if (same_tag && unwritten_since(state.file_identity(), read->metadata)) {
        state.set_file_identity(identity);
        return {};
    }
    Result<DecodedVault> decoded = decode_vault(read->image, state.master_key_env());
    if (!decoded) return fail(decoded.error());
    if (same_tag) {
        state.set_file_identity(identity);
        return {};
    }
    VaultState current(state.vault_path(), state.master_key_env(), std::move(decoded->entries),
                       decoded->params, commit_tag_of(read->image),
                       state.allow_insecure_permissions());
    current.set_file_identity(identity);
    state = std::move(current);
    return {};
}

// What the vault file holds now, if it is not the image this state last read
// or wrote: nothing when it is, or when there is no file any more to merge with.
Result<std::optional<std::vector<unsigned char>>> read_if_changed(const VaultState& state) {
    if (!stat_path(state.vault_path())) return std::nullopt;
    Result<CheckedFile> file =
        open_checked_file(state.vault_path(), O_RDONLY, 0, FileRole::VaultFile);
    if (!file) return fail(file.error());
    const int fd = file->fd.get();
    // The commit tag is enough to tell: it differs from one write to the next.
    if (read_commit_tag(fd, file->metadata) == state.file_commit_tag()) return std::nullopt;
    Result<std::vector<unsigned char>> image = read_image_file(*file);
    if (!image) return fail(image.error());
    return std::move(*image);
}

// Makes `change` again on what the file holds now, read under the passphrase
// in `reading_env`, and writes that, under the lock the caller holds. The
// state becomes what was written.
Status merge_and_write(VaultState& state, std::span<const unsigned char> current_image,
                       const VaultChange& change, std::string_view reading_env, Clock& clock) {
    const auto unsaved = [](CoreError error) {
        return fail(std::move(error).in_circumstance(std::string(kUnmergedSaveCircumstance)));
    };
    Result<DecodedVault> current = decode_vault(current_image, reading_env);
    if (!current) return unsaved(std::move(current.error()));
    VaultState merged(state.vault_path(), std::string(reading_env), std::move(current->entries),
                      current->params, commit_tag_of(current_image),
                      state.allow_insecure_permissions());
    if (Status changed = change(merged); !changed) return unsaved(std::move(changed.error()));
    const Result<VaultImage> image =
        encode_vault(merged.entries(), merged.kdf_params(), merged.master_key_env());
    if (!image) return unsaved(image.error());
    if (Status written = write_atomically(merged.vault_path(), *image); !written) return written;
    merged.set_file_commit_tag(commit_tag_of(*image));
    record_written_file(merged, clock);
    state = std::move(merged);
    return {};
}

// Inserts the entry, or replaces the value of the one of that name in place.
Status put_entry(VaultState& state, std::string_view name, SecretBytes value) {
    if (state.find_value(name) != nullptr) {
        state.replace_value(name, std::move(value));
        return {};
    }
    return state.append_entry(VaultEntry{std::string(name), std::move(value)},
                              ValueLocking::DoNotLock);
}

Status check_key_name(std::string_view name) {
    if (name.empty()) return fail(errors::EmptyKeyName{});
    if (const std::optional<KeyNameViolation> violation = find_key_name_violation(name)) {
        // The kind's text speaks of commands; what applies to a name follows it.
        return fail(
            CoreError(errors::RejectedMetacharacter{violation->character, violation->position})
                .in_circumstance("in a key name, which quotes cannot make valid: " +
                                 std::string(kKeyNameRule)));
    }
    return {};
}

// save_vault, where a file changed by another process is read under the
// passphrase in `reading_env`.
Status save_reading_with(VaultState& state, const VaultChange& change, std::string_view reading_env,
                         Clock& clock) {
    // The image is built before the lock is taken, so that the key derivation
    // does not keep other processes waiting.
    const Result<VaultImage> image =
        encode_vault(state.entries(), state.kdf_params(), state.master_key_env());
    if (!image) return fail(image.error());
    const Result<VaultLockGuard> lock = acquire_vault_lock(state.vault_path(), clock);
    if (!lock) return fail(lock.error());
    const Result<std::optional<std::vector<unsigned char>>> changed = read_if_changed(state);
    if (!changed) return fail(changed.error());
    // Killed writers may have left their temporary files. The vault's own
    // writers are kept out by the lock held here; any other holds its file locked.
    remove_abandoned_temporaries(state.vault_path());
    if (*changed) return merge_and_write(state, **changed, change, reading_env, clock);
    if (Status written = write_atomically(state.vault_path(), *image); !written) return written;
    state.set_file_commit_tag(commit_tag_of(*image));
    record_written_file(state, clock);
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
                              bool allow_insecure_permissions, Clock& clock) {
    suppress_core_dumps();
    std::filesystem::path path = vault_path ? *vault_path : default_vault_path();
    // Any failure to see the file (missing, a dangling link, a directory on the
    // way that cannot be searched) means there is no vault to open.
    if (!stat_path(path)) return fail(errors::VaultNotFound{path});
    const Result<VaultFileRead> read = read_vault_file(path, allow_insecure_permissions, clock);
    if (!read) return fail(read.error());
    Result<DecodedVault> decoded = decode_vault(read->image, master_key_env);
    if (!decoded) return fail(decoded.error());
    VaultState state(std::move(path), std::string(master_key_env), std::move(decoded->entries),
                     decoded->params, commit_tag_of(read->image), allow_insecure_permissions);
    state.set_file_identity(identify_file(read->metadata, clock.wall_now()));
    return state;
}

Status refresh_vault(VaultState& state, Clock& clock) {
    const Result<struct stat> metadata = stat_path(state.vault_path());
    if (!metadata) return fail(errors::VaultNotFound{state.vault_path()});
    switch (match_file(state.file_identity(), *metadata)) {
        case FileMatch::Same: return {};
        case FileMatch::Unsure:
            if (confirm_commit_tag(state, clock)) return {};
            break;
        case FileMatch::Different: break;
    }
    return reload_vault(state, clock);
}

Status set_entry(VaultState& state, std::string_view name, SecretBytes value, Clock& clock) {
    if (Status valid = check_key_name(name); !valid) return valid;
    if (Status put = put_entry(state, name, std::move(value)); !put) return put;
    const VaultChange change = [&](VaultState& current) {
        return put_entry(current, name, state.find_value(name)->clone());
    };
    return save_vault(state, change, clock);
}

Status set_entries(VaultState& state, std::vector<VaultEntry> entries, Clock& clock) {
    std::unordered_set<std::string_view> new_names;
    for (const VaultEntry& entry : entries) {
        if (Status valid = check_key_name(entry.name); !valid) return valid;
        if (state.find_value(entry.name) == nullptr) new_names.insert(entry.name);
    }
    if (state.entries().size() + new_names.size() > kMaxVaultEntries) {
        return fail(errors::EntryLimitExceeded{kMaxVaultEntries});
    }
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (VaultEntry& entry : entries) {
        if (Status put = put_entry(state, entry.name, std::move(entry.value)); !put) return put;
        names.push_back(std::move(entry.name));
    }
    const VaultChange change = [&](VaultState& current) -> Status {
        for (const std::string& name : names) {
            Status put = put_entry(current, name, state.find_value(name)->clone());
            if (!put) return put;
        }
        return {};
    };
    return save_vault(state, change, clock);
}

Result<bool> delete_entry(VaultState& state, std::string_view name, Clock& clock) {
    if (!state.remove_entry(name)) return false;
    const VaultChange change = [&](VaultState& current) -> Status {
        // Another process may have deleted it already.
        current.remove_entry(name);
        return {};
    };
    const Status saved = save_vault(state, change, clock);
    if (!saved) return fail(saved.error());
    return true;
}

std::vector<std::string> list_entry_names(const VaultState& state) {
    std::vector<std::string> names;
    names.reserve(state.entries().size());
    for (const VaultEntry& entry : state.entries()) names.push_back(entry.name);
    return names;
}

Status save_vault(VaultState& state, const VaultChange& change, Clock& clock) {
    const std::string reading_env = state.master_key_env();
    return save_reading_with(state, change, reading_env, clock);
}

Status rekey_vault(VaultState& state, std::string_view new_master_key_env,
                   const KdfParams& new_params, Clock& clock) {
    const std::string old_env = state.master_key_env();
    const KdfParams old_params = state.kdf_params();
    const VaultChange change = [&](VaultState& current) -> Status {
        current.use_master_key(std::string(new_master_key_env), new_params);
        return {};
    };
    change(state);
    Status saved = save_reading_with(state, change, old_env, clock);
    if (!saved) state.use_master_key(old_env, old_params);
    return saved;
}

void close_vault(std::optional<VaultState>& state) {
    state.reset();
}

}  // namespace quillbox
