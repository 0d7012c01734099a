#include "vault/format.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "vault/byte_order.hpp"
#include "vault/constant_time.hpp"
#include "vault/entry_cipher.hpp"
#include "vault/entry_plaintext.hpp"
#include "vault/kdf.hpp"

namespace quillbox {
namespace {

inline constexpr std::uint8_t kMarkerByte = 1;

using ByteView = std::span<const unsigned char>;

void store_u32_le(VaultHeader& header, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        header[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

Result<MacTag> mac_of(const SecretBytes& mac_key, ByteView data) {
    auto tag = hmac_sha256(mac_key.bytes(), data);
    if (!tag) return fail(errors::IoMessage{"HMAC-SHA256 failed"});
    return *tag;
}

// Size, magic and version: everything that can be refused without the passphrase.
Status check_preamble(ByteView image) {
    if (image.size() < kMinImageSize) {
        return fail(errors::Truncated{kMinImageSize, image.size()});
    }
    if (!std::equal(kVaultMagic.begin(), kVaultMagic.end(), image.begin())) {
        errors::BadMagic bad_magic{};
        std::copy_n(image.begin(), bad_magic.found.size(), bad_magic.found.begin());
        return fail(bad_magic);
    }
    const std::uint8_t version = image[kVersionOffset];
    if (version == 0) return fail(errors::InvalidVersion{version});
    if (version != kVaultFormatVersion) {
        return fail(errors::UnsupportedVersion{version, kVaultFormatVersion});
    }
    return {};
}

// Both HMACs, compared in constant time: the header's first, so that a wrong
// passphrase is reported as such, then the commit tag over everything else.
Status authenticate(ByteView image, const SecretBytes& mac_key) {
    const auto header_mac = mac_of(mac_key, image.first(kHeaderSize));
    if (!header_mac) return fail(header_mac.error());
    if (!equal_in_constant_time(*header_mac, image.subspan(kHeaderSize, kMacSize))) {
        return fail(errors::HeaderMacMismatch{});
    }
    const std::size_t tag_offset = image.size() - kMacSize;
    const auto commit_tag = mac_of(mac_key, image.first(tag_offset));
    if (!commit_tag) return fail(commit_tag.error());
    if (!equal_in_constant_time(*commit_tag, image.subspan(tag_offset))) {
        return fail(errors::CommitTagMismatch{});
    }
    return {};
}

// Walks the entry records of an authenticated image. The records must fill the
// entry area exactly, even though the tags already vouch for every byte.
Result<VaultEntries> open_entries(ByteView image, const SecretBytes& encryption_key) {
    const std::uint64_t image_size = image.size();
    const std::uint64_t records_end = image_size - kMacSize;
    const std::uint32_t entry_count = load_u32_le(image, kEntryCountOffset);

    VaultEntries entries;
    std::uint64_t offset = kEntryRecordsOffset;
    for (std::uint32_t index = 0; index < entry_count; ++index) {
        if (offset + kNonceSize > records_end) {
            return fail(errors::Truncated{offset + kNonceSize, image_size});
        }
        if (offset + kRecordPrefixSize > records_end) {
            return fail(errors::Truncated{offset + kRecordPrefixSize, image_size});
        }
        const std::uint64_t sealed_size = load_u32_le(image, offset + kNonceSize);
        const std::uint64_t next = offset + kRecordPrefixSize + sealed_size;
        if (next > records_end) return fail(errors::Truncated{next, image_size});

        const auto plaintext =
            open_entry(encryption_key.bytes(), image.subspan(offset).first<kNonceSize>(),
                       image.subspan(offset + kRecordPrefixSize, sealed_size), index);
        if (!plaintext) {
            if (index == 0) return fail(errors::DecryptionFailed{});
            return fail(errors::EntryTagMismatch{index});
        }
        auto entry = parse_entry_plaintext(*plaintext);
        if (!entry) return fail(entry.error());
        entries.push_back(std::move(*entry));
        offset = next;
    }
    if (offset != records_end) return fail(errors::Truncated{records_end, offset});
    return entries;
}

KdfParams header_params(ByteView image) {
    return {load_u32_le(image, kMCostOffset), load_u32_le(image, kTCostOffset),
            load_u32_le(image, kPCostOffset)};
}

}  // namespace

VaultHeader build_header(const KdfParams& params, SaltView salt, std::uint32_t entry_count) {
    VaultHeader header{};  // the reserved bytes stay zero
    std::copy(kVaultMagic.begin(), kVaultMagic.end(), header.begin());
    header[kVersionOffset] = kVaultFormatVersion;
    header[kMarkerOffset] = kMarkerByte;
    store_u32_le(header, kMCostOffset, params.m_cost);
    store_u32_le(header, kTCostOffset, params.t_cost);
    store_u32_le(header, kPCostOffset, params.p_cost);
    std::copy(salt.begin(), salt.end(), header.begin() + kSaltOffset);
    store_u32_le(header, kEntryCountOffset, entry_count);
    return header;
}

Result<VaultImage> encode_vault(const VaultEntries& entries, const KdfParams& params,
                                std::string_view passphrase_variable) {
    const auto passphrase = read_master_passphrase(passphrase_variable);
    if (!passphrase) return fail(passphrase.error());
    return encode_vault_with_passphrase(entries, params, passphrase->view());
}

Result<VaultImage> encode_vault_with_passphrase(const VaultEntries& entries,
                                                const KdfParams& params,
                                                std::string_view passphrase,
                                                const RandomSource& random) {
    if (entries.size() > std::numeric_limits<std::uint32_t>::max()) {
        return fail(errors::IoMessage{"a vault holds at most 4294967295 entries"});
    }
    std::array<unsigned char, kSaltSize> salt{};
    if (auto drawn = random(salt); !drawn) return fail(drawn.error());
    const auto keys = derive_vault_keys(passphrase, salt, params);
    if (!keys) return fail(keys.error());

    const VaultHeader header =
        build_header(params, salt, static_cast<std::uint32_t>(entries.size()));
    const auto header_mac = mac_of(keys->mac_key, header);
    if (!header_mac) return fail(header_mac.error());
    const auto records = seal_entries(entries, keys->encryption_key.bytes(), random);
    if (!records) return fail(records.error());

    VaultImage image;
    image.reserve(kMinImageSize + records->size());
    image.insert(image.end(), header.begin(), header.end());
    image.insert(image.end(), header_mac->begin(), header_mac->end());
    image.insert(image.end(), records->begin(), records->end());
    const auto commit_tag = mac_of(keys->mac_key, image);
    if (!commit_tag) return fail(commit_tag.error());
    image.insert(image.end(), commit_tag->begin(), commit_tag->end());
    return image;
}

MacTag commit_tag_of(std::span<const unsigned char> image) {
    MacTag tag{};
    std::copy_n(image.end() - kMacSize, kMacSize, tag.begin());
    return tag;
}

Result<DecodedVault> decode_vault(std::span<const unsigned char> image,
                                  std::string_view passphrase_variable) {
    if (auto checked = check_preamble(image); !checked) return fail(checked.error());

    // The costs are used as stored, before the header is authenticated; the
    // derivation caps the memory they may ask for.
    const KdfParams params = header_params(image);
    // The passphrase is wiped as soon as the keys exist.
    const auto keys = [&]() -> Result<VaultKeys> {
        const auto passphrase = read_master_passphrase(passphrase_variable);
        if (!passphrase) return fail(passphrase.error());
        return derive_vault_keys(passphrase->view(), image.subspan(kSaltOffset).first<kSaltSize>(),
                                 params);
    }();
    if (!keys) return fail(keys.error());

    if (auto authentic = authenticate(image, keys->mac_key); !authentic) {
        return fail(authentic.error());
    }
    auto entries = open_entries(image, keys->encryption_key);
    if (!entries) return fail(entries.error());
    return DecodedVault{std::move(*entries), params};
}

}  // namespace quillbox
