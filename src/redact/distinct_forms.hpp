#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quillbox {

// The per-character encoder forms (secret_forms.hpp) that a value is given:
// each that writes the value differently from the value itself, from its
// standard percent-encodings and from every earlier one.
//
// Such a form is decided by how it writes each distinct character of the
// value other than ASCII letters and digits, so the forms split into classes
// that agree on all of them, and the first form of each class is kept. How
// every form writes each ASCII character is worked out once; a character
// beyond ASCII is written in every form where a value holds it. The cost for
// a value is a pass over its bytes and a few set intersections per class, and
// no form is written to be compared.
std::vector<std::uint8_t> distinct_per_character_forms(std::string_view value);

}  // namespace quillbox
