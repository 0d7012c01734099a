#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillbox {

// The Argon2id cost parameters stored in every vault header and reused for
// every write of that vault.
struct KdfParams {
    std::uint32_t m_cost;  // memory, KiB
    std::uint32_t t_cost;  // passes
    std::uint32_t p_cost;  // lanes

    bool operator==(const KdfParams&) const = default;
};

inline constexpr std::size_t kSaltSize = 16;
using SaltView = std::span<const unsigned char, kSaltSize>;

}  // namespace quillbox
