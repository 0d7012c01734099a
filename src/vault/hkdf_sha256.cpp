#include "vault/hkdf_sha256.hpp"

#include <openssl/core_names.h>
#include <openssl/params.h>

#include <vector>

#include "vault/openssl_handles.hpp"

namespace quillbox {
namespace {

inline constexpr std::size_t kPrkSize = 32;

// Runs OpenSSL's HKDF in one mode. The key is the input keying material for
// extract and the pseudorandom key for expand; no salt is passed, so extract
// uses HashLen zero bytes, which as an HMAC key equals the empty salt.
std::optional<SecretBytes> run_hkdf(int mode, std::span<const unsigned char> key,
                                    std::string_view info, std::size_t length) {
    const EvpKdfHandle kdf(EVP_KDF_fetch(nullptr, OSSL_KDF_NAME_HKDF, nullptr));
    if (!kdf) return std::nullopt;
    const EvpKdfCtxHandle ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx) return std::nullopt;

    char digest[] = "SHA256";
    std::vector<OSSL_PARAM> params = {
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY,
                                          const_cast<unsigned char*>(key.data()), key.size()),
    };
    if (!info.empty()) {
        params.push_back(OSSL_PARAM_construct_octet_string(
            OSSL_KDF_PARAM_INFO, const_cast<char*>(info.data()), info.size()));
    }
    params.push_back(OSSL_PARAM_construct_end());

    SecretBytes out;
    out.resize(length);
    if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params.data()) != 1) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::optional<SecretBytes> hkdf_sha256_extract(std::span<const unsigned char> input_key_material) {
    return run_hkdf(EVP_KDF_HKDF_MODE_EXTRACT_ONLY, input_key_material, {}, kPrkSize);
}

std::optional<SecretBytes> hkdf_sha256_expand(std::span<const unsigned char> prk,
                                              std::string_view label, std::size_t length) {
    return run_hkdf(EVP_KDF_HKDF_MODE_EXPAND_ONLY, prk, label, length);
}

}  // namespace quillbox
