#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "core/result.hpp"
#include "vault/kdf_params.hpp"

namespace quillbox {

// Writes a new vault without entries, under the passphrase read from the named
// variable, at `vault_path` or the default path; returns the path written.
// An existing file is never replaced. A directory on the way that another
// user owns (root aside) or can write without the sticky bit is refused, as
// UnsafePath naming it; one that is there but cannot be examined fails with
// that error. Missing directories are created private to the owner
// (0700), the file itself with mode 0600.
Result<std::filesystem::path> create_vault_file(
    const std::optional<std::filesystem::path>& vault_path, const KdfParams& params,
    std::string_view passphrase_variable);

}  // namespace quillbox
