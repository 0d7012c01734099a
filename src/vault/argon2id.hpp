#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "vault/kdf_params.hpp"

namespace quillbox {

inline constexpr std::size_t kArgon2OutputSize = 32;

// Argon2id version 0x13: a 32-byte raw tag of the password under the salt, with
// no secret key and no associated data, computed on the calling thread. The
// parameters must already have passed the derivation's own checks. A failure
// is the Io error "argon2 hash error: " and the reason.
//
// libsodium computes one lane about twice as fast as the reference library
// here, so it takes every derivation it can; the reference library takes the
// rest. Both give the same bytes.
Result<SecretBytes> argon2id(std::string_view password, SaltView salt, const KdfParams& params);

// The reference library (libargon2) with one thread: the lanes are computed
// one after another.
Result<SecretBytes> argon2id_with_libargon2(std::string_view password, SaltView salt,
                                            const KdfParams& params);

// libsodium's Argon2id, which computes a single lane; nothing when it cannot
// take these parameters, or fails without saying why.
std::optional<SecretBytes> argon2id_with_libsodium(std::string_view password, SaltView salt,
                                                   const KdfParams& params);

}  // namespace quillbox
