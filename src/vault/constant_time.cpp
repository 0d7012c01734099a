#include "vault/constant_time.hpp"

#include <openssl/crypto.h>

namespace quillbox {

bool equal_in_constant_time(std::span<const unsigned char> a, std::span<const unsigned char> b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace quillbox
