#pragma once

#include <functional>
#include <span>

#include "core/result.hpp"

namespace quillbox {

// Where salts and nonces come from. Encoding takes the source as a parameter so
// that known-answer checks can fix the randomness; everything else uses
// fill_random.
using RandomSource = std::function<Status(std::span<unsigned char>)>;

// Fills the buffer from the operating system's secure random source. A failure
// is the Io error "RNG fill failed", never a weaker fill.
Status fill_random(std::span<unsigned char> buffer);

}  // namespace quillbox
