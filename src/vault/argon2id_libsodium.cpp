#include <sodium.h>

#include <cstdint>

#include "vault/argon2id.hpp"

namespace quillbox {
namespace {

bool sodium_ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool libsodium_accepts(std::string_view password, const KdfParams& params) {
    const std::uint64_t memory_bytes = std::uint64_t{params.m_cost} * 1024;
    return params.p_cost == 1 && password.size() <= crypto_pwhash_argon2id_passwd_max() &&
           params.t_cost >= crypto_pwhash_argon2id_opslimit_min() &&
           params.t_cost <= crypto_pwhash_argon2id_opslimit_max() &&
           memory_bytes >= crypto_pwhash_argon2id_memlimit_min() &&
           memory_bytes <= crypto_pwhash_argon2id_memlimit_max();
}

}  // namespace

std::optional<SecretBytes> argon2id_with_libsodium(std::string_view password, SaltView salt,
                                                   const KdfParams& params) {
    static_assert(kSaltSize == crypto_pwhash_SALTBYTES);
    if (!libsodium_accepts(password, params) || !sodium_ready()) return std::nullopt;

    // libsodium insists on a pointer even for an empty password.
    const char* password_bytes = password.empty() ? "" : password.data();
    SecretBytes output;
    output.resize(kArgon2OutputSize);
    if (crypto_pwhash(output.data(), output.size(), password_bytes, password.size(), salt.data(),
                      params.t_cost, std::size_t{params.m_cost} * 1024,
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return std::nullopt;
    }
    return output;
}

}  // namespace quillbox
