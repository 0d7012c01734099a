#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {

// HKDF-SHA256 extract with an empty salt (HMAC under a zero-length key, the
// same as the default of 32 zero bytes): the pseudorandom key. Empty only if
// the library fails.
std::optional<SecretBytes> hkdf_sha256_extract(std::span<const unsigned char> input_key_material);

// HKDF-SHA256 expand of the pseudorandom key with the label as info.
std::optional<SecretBytes> hkdf_sha256_expand(std::span<const unsigned char> prk,
                                              std::string_view label, std::size_t length);

}  // namespace quillbox
