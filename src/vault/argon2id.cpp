#include "vault/argon2id.hpp"

namespace quillbox {

Result<SecretBytes> argon2id(std::string_view password, SaltView salt, const KdfParams& params) {
    // libsodium reports no reason for a failure; given the same parameters the
    // reference library says why (normally it cannot get the memory either).
    if (auto fast = argon2id_with_libsodium(password, salt, params)) return std::move(*fast);
    return argon2id_with_libargon2(password, salt, params);
}

}  // namespace quillbox
