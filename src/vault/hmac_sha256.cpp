#include "vault/hmac_sha256.hpp"

#include <openssl/evp.h>

namespace quillbox {

std::optional<MacTag> hmac_sha256(std::span<const unsigned char> key,
                                  std::span<const unsigned char> data) {
    MacTag tag{};
    std::size_t written = 0;
    if (EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.data(), key.size(), data.data(),
                  data.size(), tag.data(), tag.size(), &written) == nullptr ||
        written != tag.size()) {
        return std::nullopt;
    }
    return tag;
}

}  // namespace quillbox
