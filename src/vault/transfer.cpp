#include "vault/transfer.hpp"

#include <fcntl.h>

#include <vector>

#include "vault/atomic_write.hpp"
#include "vault/checked_open.hpp"
#include "vault/file_io.hpp"
#include "vault/format.hpp"
#include "vault/image_file.hpp"
#include "vault/kdf.hpp"
#include "vault/store.hpp"

namespace quillbox {
namespace {

// Opened like the vault file, so that a FIFO, a device or a directory is
// refused at once instead of blocking the import or feeding it without end;
// but anyone may own it.
Result<VaultImage> read_import_file(const std::filesystem::path& import_path) {
    const Result<CheckedFile> file =
        open_checked_file(import_path, O_RDONLY, 0, FileRole::ImportFile);
    if (!file) return fail(file.error());
    return read_image_file(*file);
}

// Entries are handled one after the other, so a name that occurs twice in the
// file is added first and then counts as present. Imported values are locked
// into memory.
Status merge_entries(VaultState& state, const VaultEntries& imported, bool overwrite,
                     ImportCounts& counts) {
    for (const VaultEntry& entry : imported) {
        if (state.find_value(entry.name) != nullptr) {
            if (overwrite) {
                state.replace_value(entry.name, entry.value.clone());
                ++counts.replaced;
            } else {
                ++counts.skipped;
            }
        } else if (Status added =
                       state.append_entry({entry.name, entry.value.clone()}, ValueLocking::Lock);
                   !added) {
            return added;
        } else {
            ++counts.added;
        }
    }
    return {};
}

}  // namespace

Status export_vault(const VaultState& state, const std::filesystem::path& out_path,
                    ExistingTarget existing) {
    // The passphrase is read before any directory is made for the export.
    const Result<SecretBytes> passphrase = read_master_passphrase(state.master_key_env());
    if (!passphrase) return fail(passphrase.error());
    if (Status prepared = create_missing_parent_directory(out_path); !prepared) return prepared;
    const Result<VaultImage> image =
        encode_vault_with_passphrase(state.entries(), state.kdf_params(), passphrase->view());
    if (!image) return fail(image.error());
    return write_atomically(out_path, *image, existing);
}

Result<ImportCounts> import_vault_file(VaultState& state, const std::filesystem::path& import_path,
                                       bool overwrite,
                                       std::optional<std::string_view> import_key_env,
                                       Clock& clock) {
    const Result<VaultImage> image = read_import_file(import_path);
    if (!image) return fail(image.error());
    // The import file's KDF parameters serve only to read it.
    const Result<DecodedVault> decoded =
        decode_vault(*image, import_key_env.value_or(state.master_key_env()));
    if (!decoded) return fail(decoded.error());

    ImportCounts counts;
    if (Status merged = merge_entries(state, decoded->entries, overwrite, counts); !merged) {
        return fail(merged.error());
    }
    // Made again on the file as another process left it, the counts are those
    // of what is written.
    const VaultChange change = [&](VaultState& current) {
        counts = {};
        return merge_entries(current, decoded->entries, overwrite, counts);
    };
    const Status saved = save_vault(state, change, clock);
    if (!saved) return fail(saved.error());
    return counts;
}

}  // namespace quillbox
