#pragma once

#include <cstdint>
#include <string_view>

#include "vault/kdf_params.hpp"

namespace quillbox::fuzzing {

// The vault fuzz target reads its passphrase from this variable, which it sets
// itself; the seed images are written under the same passphrase.
inline constexpr char kPassphraseVariable[] = "QUILLBOX_FUZZ_PASSPHRASE";
inline constexpr std::string_view kPassphrase = "correct horse battery staple";

// The cheapest costs Argon2 accepts, for the seed images.
inline constexpr KdfParams kSeedParams{8, 1, 1};

// The first byte of a vault fuzz input says how the target makes the image
// that follows authentic again before decoding it; the rest is the image.
enum ForgeFlags : std::uint8_t {
    // Each record's sealed data, read as a plaintext followed by room for the
    // tag, is sealed anew for its position.
    kResealRecords = 1,
    // The header MAC and the commit tag are computed anew.
    kRecomputeMacs = 2,
};

}  // namespace quillbox::fuzzing
