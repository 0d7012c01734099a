#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quillbox {

// What a copy of a UTF-8 text in code units of one width needs: how many code
// points it holds, and the top of the class of its largest one (0x7F, 0xFF,
// 0xFFFF or 0x10FFFF), which decides the width. Python keeps a str that way.
struct CodePointCount {
    std::size_t count;
    char32_t ceiling;
};

// Of valid UTF-8: each byte that is not a continuation byte begins a code
// point, and the largest byte tells the class of the largest code point.
CodePointCount count_code_points(std::string_view utf8);

// Writes the code points of valid UTF-8 into `out`, which holds
// count_code_points(utf8).count units, wide enough for its ceiling. Whatever
// the bytes, one unit is written for each byte that is not a continuation
// byte, none beyond `out`, and no byte beyond the text is read: bytes that are
// not valid UTF-8 give meaningless units, never a fault.
void decode_code_points(std::string_view utf8, std::span<std::uint8_t> out);
void decode_code_points(std::string_view utf8, std::span<std::uint16_t> out);
void decode_code_points(std::string_view utf8, std::span<std::uint32_t> out);

}  // namespace quillbox
