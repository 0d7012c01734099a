#pragma once

#include <cstdint>
#include <string>

#include "core/clock.hpp"

namespace quillbox {

// What the exclusive holder of a vault lockfile writes into it, one line each:
// its process ID and the UTC time at which it took the lock, for whoever looks
// at a lockfile to see who holds it. Nothing reads it back: whether the lock is
// held is the kernel's to say.
//
// "<pid>\n<timestamp>\n", the timestamp in RFC 3339 with a "+00:00" offset.
std::string format_lock_record(std::uint32_t pid, WallTime acquired_at);

}  // namespace quillbox
