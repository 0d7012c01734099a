#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillbox {

// One step of UTF-8 decoding. A valid step holds one code point and the number
// of bytes it used. An invalid step covers one maximal invalid subpart: the
// longest prefix of a well-formed sequence that is not complete, or one byte
// that cannot start a sequence at all.
struct Utf8Step {
    char32_t code_point;
    std::size_t length;
    bool valid;
};

// Decodes the sequence that starts at `offset` (which must be < bytes.size()).
Utf8Step decode_utf8_step(std::string_view bytes, std::size_t offset);

bool is_valid_utf8(std::string_view bytes);

// Decodes bytes as UTF-8, writing one U+FFFD for each maximal invalid subpart.
std::string decode_utf8_lossy(std::string_view bytes);

// Appends the UTF-8 encoding of a Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);

}  // namespace quillbox
