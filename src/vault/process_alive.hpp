#pragma once

#include <cstdint>

namespace quillbox {

// Whether a process with this ID exists, whoever's it is. An ID that cannot
// name one process (0, or beyond the largest) counts as alive: nothing about
// it can be known.
bool process_may_be_alive(std::uint32_t pid);

}  // namespace quillbox
