#pragma once

#include <string_view>
#include <vector>

#include "vault/kdf_params.hpp"

namespace quillbox::testing {

struct VectorEntry {
    std::string_view name_hex;
    std::string_view value_hex;
};

// One vault image made by an independent implementation with a fixed salt and
// fixed nonces, and the keys it derived on the way.
struct VaultVector {
    std::string_view label;
    std::string_view passphrase_hex;
    KdfParams params;
    std::string_view salt_hex;
    std::vector<std::string_view> nonce_hexes;
    std::vector<VectorEntry> entries;
    std::string_view encryption_key_hex;
    std::string_view mac_key_hex;
    std::string_view image_hex;
};

const std::vector<VaultVector>& vault_vectors();

// The vector with this label; the test fails if there is none.
const VaultVector& vault_vector(std::string_view label);

}  // namespace quillbox::testing
