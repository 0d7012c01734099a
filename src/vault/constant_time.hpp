#pragma once

#include <span>

namespace quillbox {

// Whether two byte strings are equal, in a time that depends on their lengths
// alone and never on where they differ, so that whoever times a comparison of
// a secret (a MAC tag, a passphrase) learns nothing of its bytes. Strings of
// different lengths are unequal at once: lengths are not hidden.
bool equal_in_constant_time(std::span<const unsigned char> a, std::span<const unsigned char> b);

}  // namespace quillbox
