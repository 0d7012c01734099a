#pragma once

#include <cstddef>

namespace quillbox {

// How deep beneath its caller wipe_stack_beneath_caller reaches: several times
// what a key derivation's libraries use (libsodium's Argon2 about 7 KiB,
// OpenSSL's HKDF and HMAC about 4 KiB).
inline constexpr std::size_t kStackWipeSize = 32 * 1024;

// Zeros the kStackWipeSize bytes of this thread's stack just beneath the
// caller's frame: where the functions it called kept their locals. Libraries
// that compute keys leave some in locals they never clear (libsodium's Argon2
// leaves its output there); a caller that has just called them wipes what they
// left before it returns.
void wipe_stack_beneath_caller();

}  // namespace quillbox
