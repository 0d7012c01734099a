#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"

namespace quillbox {

// What one entry record seals: the name's length in bytes (u16 LE), the name
// (UTF-8), then the value (any bytes, to the end).
inline constexpr std::size_t kNameLengthSize = 2;
inline constexpr std::size_t kMaxNameSize = std::numeric_limits<std::uint16_t>::max();

// The plaintext of an entry whose name is at most kMaxNameSize bytes.
SecretBytes build_entry_plaintext(const VaultEntry& entry);

// The entry a decrypted plaintext holds; Truncated when the plaintext is
// shorter than its own name length says, an Io error when the name is not UTF-8.
Result<VaultEntry> parse_entry_plaintext(const SecretBytes& plaintext);

}  // namespace quillbox
