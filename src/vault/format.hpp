#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/vault_entry.hpp"
#include "vault/hmac_sha256.hpp"
#include "vault/kdf_params.hpp"
#include "vault/random_source.hpp"

namespace quillbox {

// A vault file image: the 74-byte header, its HMAC, the entry records and the
// commit tag, an HMAC over everything before it. Both HMACs use the MAC key;
// integers are little-endian.
//
//   0  magic "QUILLBOX"     22  salt (16)
//   8  format version (1)   38  entry_count (u32)
//   9  marker byte (1)      42  reserved (32 zero bytes)
//  10  m_cost (u32)         74  header MAC (32)
//  14  t_cost (u32)        106  entry records, back to back
//  18  p_cost (u32)        N-32 commit tag (32)
inline constexpr std::array<unsigned char, 8> kVaultMagic = {'Q', 'U', 'I', 'L',
                                                             'L', 'B', 'O', 'X'};
inline constexpr std::uint8_t kVaultFormatVersion = 1;
inline constexpr std::size_t kVersionOffset = 8;
inline constexpr std::size_t kMarkerOffset = 9;
inline constexpr std::size_t kMCostOffset = 10;
inline constexpr std::size_t kTCostOffset = 14;
inline constexpr std::size_t kPCostOffset = 18;
inline constexpr std::size_t kSaltOffset = 22;
inline constexpr std::size_t kEntryCountOffset = 38;
inline constexpr std::size_t kHeaderSize = 74;
inline constexpr std::size_t kEntryRecordsOffset = kHeaderSize + kMacSize;
inline constexpr std::size_t kMinImageSize = kEntryRecordsOffset + kMacSize;

using VaultHeader = std::array<unsigned char, kHeaderSize>;
// An image holds only ciphertext and tags; it is not secret.
using VaultImage = std::vector<unsigned char>;

// What an image holds: its entries in file order and the KDF parameters of its
// header, which every later write of the same vault reuses.
struct DecodedVault {
    VaultEntries entries;
    KdfParams params;
};

VaultHeader build_header(const KdfParams& params, SaltView salt, std::uint32_t entry_count);

// The complete image of the entries, in the given order, under the passphrase
// read from the named variable now, a fresh salt and fresh nonces.
Result<VaultImage> encode_vault(const VaultEntries& entries, const KdfParams& params,
                                std::string_view passphrase_variable);

// The same for a passphrase the caller has already read; salt and nonces are
// drawn from `random` in that order.
Result<VaultImage> encode_vault_with_passphrase(const VaultEntries& entries,
                                                const KdfParams& params,
                                                std::string_view passphrase,
                                                const RandomSource& random = fill_random);

// The commit tag of an image of at least kMinImageSize bytes: its last bytes.
// A fresh salt and fresh nonces make it differ from one write to the next.
MacTag commit_tag_of(std::span<const unsigned char> image);

// Verifies the whole image (both HMACs) before opening any entry, then opens
// every entry. The passphrase is read from the named variable only once the
// image has the right size, magic and version. Returns everything or an error,
// never part of the entries.
Result<DecodedVault> decode_vault(std::span<const unsigned char> image,
                                  std::string_view passphrase_variable);

}  // namespace quillbox
