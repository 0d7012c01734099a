// decode_vault on any image. Most mutations die at the header MAC, as they
// should; to reach the record walk and the plaintext checks behind it, an
// input may ask for its image to be made authentic first (see ForgeFlags).
// Whatever decodes encodes and decodes again to the same entries, and is
// refused once any one of its bytes is changed.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "support/fuzz_check.hpp"
#include "support/vault_fuzz_setup.hpp"
#include "vault/byte_order.hpp"
#include "vault/entry_cipher.hpp"
#include "vault/format.hpp"
#include "vault/kdf.hpp"

namespace {

using namespace quillbox;
using fuzzing::fuzz_check;

KdfParams params_of(std::span<const unsigned char> image) {
    return {load_u32_le(image, kMCostOffset), load_u32_le(image, kTCostOffset),
            load_u32_le(image, kPCostOffset)};
}

// The stored costs are the file's to choose, and an image that asks for real
// work would keep the fuzzer hashing: only costs that are tiny, or that the
// derivation refuses before hashing because of the memory they ask for, are
// decoded.
bool cheap_or_refused(const KdfParams& params) {
    return params.m_cost > kMaxMemoryCostKib || (params.m_cost <= 256 && params.t_cost <= 4);
}

void reseal_records(std::vector<unsigned char>& image, const SecretBytes& key) {
    const std::size_t records_end = image.size() - kMacSize;
    const std::uint32_t count = load_u32_le(image, kEntryCountOffset);
    std::size_t offset = kEntryRecordsOffset;
    for (std::uint32_t index = 0; index < count && offset + kRecordPrefixSize <= records_end;
         ++index) {
        const std::size_t sealed_size = load_u32_le(image, offset + kNonceSize);
        const std::size_t sealed_at = offset + kRecordPrefixSize;
        if (sealed_size < kGcmTagSize || sealed_size > records_end - sealed_at) return;
        const std::span<const unsigned char> plaintext(image.data() + sealed_at,
                                                       sealed_size - kGcmTagSize);
        const auto sealed = seal_plaintext(
            key.bytes(), std::span(image).subspan(offset).first<kNonceSize>(), plaintext, index);
        if (!sealed || sealed->size() != sealed_size) return;
        std::copy(sealed->begin(), sealed->end(), image.begin() + sealed_at);
        offset = sealed_at + sealed_size;
    }
}

void recompute_macs(std::vector<unsigned char>& image, const SecretBytes& key) {
    const std::span<const unsigned char> bytes(image);
    if (const auto header_mac = hmac_sha256(key.bytes(), bytes.first(kHeaderSize))) {
        std::copy(header_mac->begin(), header_mac->end(), image.begin() + kHeaderSize);
    }
    const std::size_t tag_at = image.size() - kMacSize;
    if (const auto commit_tag = hmac_sha256(key.bytes(), bytes.first(tag_at))) {
        std::copy(commit_tag->begin(), commit_tag->end(), image.begin() + tag_at);
    }
}

void forge(std::vector<unsigned char>& image, std::uint8_t flags) {
    if (image.size() < kMinImageSize) return;
    const auto keys = derive_vault_keys(fuzzing::kPassphrase,
                                        std::span(image).subspan(kSaltOffset).first<kSaltSize>(),
                                        params_of(image));
    if (!keys) return;
    if (flags & fuzzing::kResealRecords) reseal_records(image, keys->encryption_key);
    if (flags & fuzzing::kRecomputeMacs) recompute_macs(image, keys->mac_key);
}

bool same_entries(const VaultEntries& left, const VaultEntries& right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (left[i].name != right[i].name || left[i].value.view() != right[i].value.view()) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv(fuzzing::kPassphraseVariable, std::string(fuzzing::kPassphrase).c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<unsigned char> image(data + 1, data + size);
    if (image.size() >= kSaltOffset && !cheap_or_refused(params_of(image))) return -1;
    forge(image, data[0]);

    const auto decoded = decode_vault(image, fuzzing::kPassphraseVariable);
    if (!decoded) return 0;

    // The input's last bytes choose the byte to change; where they are the
    // commit tag of a forged image, the fuzzer may set them freely.
    FuzzedDataProvider choice(data, size);
    std::vector<unsigned char> damaged = image;
    damaged[choice.ConsumeIntegralInRange<std::size_t>(0, damaged.size() - 1)] ^=
        choice.ConsumeIntegralInRange<std::uint8_t>(1, 255);
    // A change to the costs that asks for real work is not tried; it changes
    // the keys as any other change to them does.
    if (cheap_or_refused(params_of(damaged))) {
        fuzz_check(!decode_vault(damaged, fuzzing::kPassphraseVariable),
                   "an image with any one byte changed is refused");
    }

    const auto encoded =
        encode_vault_with_passphrase(decoded->entries, decoded->params, fuzzing::kPassphrase);
    fuzz_check(encoded.has_value(), "decoded entries encode again");
    const auto again = decode_vault(*encoded, fuzzing::kPassphraseVariable);
    fuzz_check(
        again && again->params == decoded->params && same_entries(again->entries, decoded->entries),
        "decoded entries survive another encode and decode");
    return 0;
}
