#include "vault/vault_vectors.hpp"

#include <algorithm>
#include <string>

#include "core/internal_error.hpp"

namespace quillbox::testing {

const std::vector<VaultVector>& vault_vectors() {
    static const std::vector<VaultVector> vectors = {
#include "vault/vault_vectors.inc"
    };
    return vectors;
}

const VaultVector& vault_vector(std::string_view label) {
    const auto& vectors = vault_vectors();
    const auto found = std::find_if(vectors.begin(), vectors.end(),
                                    [&](const VaultVector& v) { return v.label == label; });
    if (found == vectors.end()) {
        throw InternalError("no vault vector " + std::string(label), "tests/cpp/vault");
    }
    return *found;
}

}  // namespace quillbox::testing
