#pragma once

#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <memory>

namespace quillbox {

// Owning handles for the OpenSSL objects this module creates.

struct EvpKdfFree {
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
};
struct EvpKdfCtxFree {
    void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
};
struct EvpCipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

using EvpKdfHandle = std::unique_ptr<EVP_KDF, EvpKdfFree>;
using EvpKdfCtxHandle = std::unique_ptr<EVP_KDF_CTX, EvpKdfCtxFree>;
using EvpCipherCtxHandle = std::unique_ptr<EVP_CIPHER_CTX, EvpCipherCtxFree>;

}  // namespace quillbox
