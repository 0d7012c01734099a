#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "core/clock.hpp"
#include "core/result.hpp"
#include "vault/atomic_write.hpp"
#include "vault/vault_state.hpp"

namespace quillbox {

// Export files have the vault file's format: an export opens as a vault and
// can be imported into another one.

// What an import did with the entries of the file, in this order.
struct ImportCounts {
    std::uint64_t added = 0;     // names the vault did not hold
    std::uint64_t skipped = 0;   // names it held, kept because overwrite was off
    std::uint64_t replaced = 0;  // names it held, whose values were replaced

    bool operator==(const ImportCounts&) const = default;
};

// Writes every entry, in stored order, to `out_path` under the vault's current
// passphrase and KDF parameters with a fresh salt. A missing parent directory
// is created (with any missing ancestors) and given mode 0700; an existing one
// is left as it is. No lock is taken and the vault file is not touched. A file
// at `out_path` is replaced, or, with `existing` Refused, never (atomic_write.hpp).
Status export_vault(const VaultState& state, const std::filesystem::path& out_path,
                    ExistingTarget existing = ExistingTarget::Replaced);

// Merges the entries of a vault file, read with the passphrase from
// `import_key_env` (or the vault's own variable), into the open vault, then
// saves it, even when nothing changed, waiting for the lockfile on `clock`.
// Imported values are locked into memory. Should the vault fill up on the way,
// the import stops with EntryLimitExceeded: what it changed until then stays
// in memory, unsaved.
Result<ImportCounts> import_vault_file(VaultState& state, const std::filesystem::path& import_path,
                                       bool overwrite,
                                       std::optional<std::string_view> import_key_env,
                                       Clock& clock = real_clock());

}  // namespace quillbox
