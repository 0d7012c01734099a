#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "vault/random_source.hpp"

namespace quillbox {

// An entry record: nonce, sealed length (u32 LE), sealed data. The sealed data
// is the AES-256-GCM ciphertext of the entry plaintext (name length as u16 LE,
// name, value) followed by the tag; the entry's index, big-endian, is the
// additional data, so a record only opens at the position it was sealed for.
inline constexpr std::size_t kNonceSize = 12;
inline constexpr std::size_t kSealedLengthSize = 4;
inline constexpr std::size_t kRecordPrefixSize = kNonceSize + kSealedLengthSize;
inline constexpr std::size_t kGcmTagSize = 16;
inline constexpr std::size_t kEncryptionKeySize = 32;

using NonceView = std::span<const unsigned char, kNonceSize>;

// The sealed length of an entry with a name and a value of these sizes, or
// nothing when the record's length fields cannot hold it.
std::optional<std::uint32_t> sealed_length_for(std::size_t name_size, std::size_t value_size);

// Encrypts one plaintext for the record at `index`: ciphertext, then tag.
Result<std::vector<unsigned char>> seal_plaintext(std::span<const unsigned char> key,
                                                  NonceView nonce,
                                                  std::span<const unsigned char> plaintext,
                                                  std::uint32_t index);

// The records of all entries, back to back in the given order, each under a
// fresh nonce from `random`. An entry too large for the record format is
// refused; on any failure nothing is returned.
Result<std::vector<unsigned char>> seal_entries(const VaultEntries& entries,
                                                std::span<const unsigned char> key,
                                                const RandomSource& random = fill_random);

// The plaintext of the sealed data of the record at `index`, or nothing when
// the key, the nonce, the data or the position do not match (GCM cannot tell
// these apart).
std::optional<SecretBytes> open_entry(std::span<const unsigned char> key, NonceView nonce,
                                      std::span<const unsigned char> sealed, std::uint32_t index);

}  // namespace quillbox
