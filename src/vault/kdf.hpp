#pragma once

#include <string_view>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "vault/kdf_params.hpp"

namespace quillbox {

// The two keys of one vault file image, derived anew for every read and every
// write; both are wiped when released.
struct VaultKeys {
    SecretBytes encryption_key;  // AES-256-GCM key of every entry
    SecretBytes mac_key;         // HMAC-SHA256 key of the header MAC and the commit tag
};

// The largest memory cost we derive with: 4 GiB. The cost is read from the
// header before the header can be authenticated, so a damaged or hostile file
// must not make us allocate without bound.
inline constexpr std::uint32_t kMaxMemoryCostKib = 4 * 1024 * 1024;

// The most work we derive with: memory cost times passes, in KiB-passes, which
// is 16 GiB-passes (1 GiB with 16 passes, 4 GiB with 4), some seconds here. The
// lanes of one derivation run one after another, so they add no work. Like the
// memory, the passes are read before the header can be authenticated, and a
// damaged or hostile file must not keep us busy for hours; no vault is created
// beyond it either, so every vault made can be opened.
inline constexpr std::uint64_t kMaxWorkKibPasses = std::uint64_t{16} * 1024 * 1024;

// The master passphrase, read from the named environment variable now. A
// variable that is unset, or whose value is not UTF-8, is EnvVarNotSet.
Result<SecretBytes> read_master_passphrase(std::string_view variable);

// Argon2id of the passphrase under the salt, then HKDF-SHA256 with one label
// per key. Parameters that Argon2 cannot use, or that exceed the memory cap,
// are refused before any memory is taken. The Argon2 output and the HKDF
// pseudorandom key are wiped before it returns, and so is the stack beneath it,
// where the libraries leave locals of their own.
Result<VaultKeys> derive_vault_keys(std::string_view passphrase, SaltView salt,
                                    const KdfParams& params);

}  // namespace quillbox
