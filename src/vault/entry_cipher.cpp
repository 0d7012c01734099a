#include "vault/entry_cipher.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <limits>
#include <string>

#include "vault/byte_order.hpp"
#include "vault/entry_plaintext.hpp"
#include "vault/openssl_handles.hpp"

namespace quillbox {
namespace {

enum class Direction { Encrypt = 1, Decrypt = 0 };

// A context set up for AES-256-GCM in one direction with this key and nonce.
EvpCipherCtxHandle gcm_context(Direction direction, std::span<const unsigned char> key,
                               NonceView nonce) {
    if (key.size() != kEncryptionKeySize) return nullptr;
    const int enc = static_cast<int>(direction);
    EvpCipherCtxHandle ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr, enc) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceSize, nullptr) != 1 ||
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce.data(), enc) != 1) {
        return nullptr;
    }
    return ctx;
}

// Feeds the entry's index, four bytes big-endian, in as additional data.
bool bind_index(EVP_CIPHER_CTX* ctx, std::uint32_t index) {
    const auto aad = u32_be(index);
    int written = 0;
    return EVP_CipherUpdate(ctx, nullptr, &written, aad.data(), aad.size()) == 1;
}

// Runs the cipher over `in`, writing as many bytes to `out`. EVP counts in
// int, so a large entry goes through in pieces.
bool cipher_update(EVP_CIPHER_CTX* ctx, unsigned char* out, std::span<const unsigned char> in) {
    constexpr std::size_t max_piece = std::size_t{1} << 30;
    for (std::size_t done = 0; done < in.size();) {
        const std::size_t piece = std::min(max_piece, in.size() - done);
        int written = 0;
        if (EVP_CipherUpdate(ctx, out + done, &written, in.data() + done,
                             static_cast<int>(piece)) != 1 ||
            static_cast<std::size_t>(written) != piece) {
            return false;
        }
        done += piece;
    }
    return true;
}

// Completes the operation; GCM writes no further bytes here, and when
// decrypting this is where the tag is checked.
bool cipher_final(EVP_CIPHER_CTX* ctx) {
    std::array<unsigned char, kGcmTagSize> no_output{};
    int written = 0;
    return EVP_CipherFinal_ex(ctx, no_output.data(), &written) == 1 && written == 0;
}

Status check_entry_fits(const VaultEntry& entry) {
    if (entry.name.size() > kMaxNameSize) {
        return fail(errors::IoMessage{"entry name is too long for the vault format (" +
                                      std::to_string(entry.name.size()) +
                                      " bytes, at most 65535) — use a shorter name"});
    }
    if (!sealed_length_for(entry.name.size(), entry.value.size())) {
        return fail(errors::IoMessage{
            "value of entry " + entry.name + " is too large for the vault format (" +
            std::to_string(entry.value.size()) +
            " bytes; a sealed entry holds at most 4294967295 bytes) — store a smaller value"});
    }
    return {};
}

}  // namespace

std::optional<std::uint32_t> sealed_length_for(std::size_t name_size, std::size_t value_size) {
    constexpr std::uint64_t max_sealed = std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint64_t overhead = kNameLengthSize + kGcmTagSize;
    if (name_size > kMaxNameSize || value_size > max_sealed - overhead - name_size) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(overhead + name_size + value_size);
}

Result<std::vector<unsigned char>> seal_plaintext(std::span<const unsigned char> key,
                                                  NonceView nonce,
                                                  std::span<const unsigned char> plaintext,
                                                  std::uint32_t index) {
    const auto ctx = gcm_context(Direction::Encrypt, key, nonce);
    if (!ctx) return fail(errors::IoMessage{"AES-256-GCM key construction failed"});

    std::vector<unsigned char> sealed(plaintext.size() + kGcmTagSize);
    if (!bind_index(ctx.get(), index) || !cipher_update(ctx.get(), sealed.data(), plaintext) ||
        !cipher_final(ctx.get()) ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kGcmTagSize,
                            sealed.data() + plaintext.size()) != 1) {
        return fail(errors::IoMessage{"AES-256-GCM seal failed"});
    }
    return sealed;
}

Result<std::vector<unsigned char>> seal_entries(const VaultEntries& entries,
                                                std::span<const unsigned char> key,
                                                const RandomSource& random) {
    std::vector<unsigned char> records;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (auto fits = check_entry_fits(entries[i]); !fits) return fail(fits.error());
        const SecretBytes plaintext = build_entry_plaintext(entries[i]);

        std::array<unsigned char, kNonceSize> nonce{};
        if (auto drawn = random(nonce); !drawn) return fail(drawn.error());

        auto sealed = seal_plaintext(key, nonce, plaintext.bytes(), static_cast<std::uint32_t>(i));
        if (!sealed) return fail(sealed.error());

        records.insert(records.end(), nonce.begin(), nonce.end());
        append_u32_le(records, static_cast<std::uint32_t>(sealed->size()));
        records.insert(records.end(), sealed->begin(), sealed->end());
    }
    return records;
}

std::optional<SecretBytes> open_entry(std::span<const unsigned char> key, NonceView nonce,
                                      std::span<const unsigned char> sealed, std::uint32_t index) {
    if (sealed.size() < kGcmTagSize) return std::nullopt;
    const auto ctx = gcm_context(Direction::Decrypt, key, nonce);
    if (!ctx || !bind_index(ctx.get(), index)) return std::nullopt;
    const auto ciphertext = sealed.first(sealed.size() - kGcmTagSize);
    auto tag = sealed.last<kGcmTagSize>();

    // OpenSSL compares the computed tag with the stored one in constant time
    // (CRYPTO_memcmp). On any failure the plaintext is wiped as it goes out of
    // scope.
    SecretBytes plaintext;
    plaintext.resize(ciphertext.size());
    if (!cipher_update(ctx.get(), plaintext.data(), ciphertext) ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kGcmTagSize,
                            const_cast<unsigned char*>(tag.data())) != 1 ||
        !cipher_final(ctx.get())) {
        return std::nullopt;
    }
    return plaintext;
}

}  // namespace quillbox
