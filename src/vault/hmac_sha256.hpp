#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>

namespace quillbox {

inline constexpr std::size_t kMacSize = 32;
using MacTag = std::array<unsigned char, kMacSize>;

// HMAC-SHA256 of the data under the key; empty only if the library fails
// (it cannot get memory).
std::optional<MacTag> hmac_sha256(std::span<const unsigned char> key,
                                  std::span<const unsigned char> data);

}  // namespace quillbox
