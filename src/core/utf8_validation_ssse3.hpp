#pragma once

#include <string_view>

namespace quillbox {

// is_valid_utf8, sixteen bytes at a time: Keiser and Lemire's table lookups
// ("Validating UTF-8 in less than one instruction per byte", 2021), which
// classify each byte by the nibbles of itself and of the byte before it, and
// check the third and fourth bytes of longer sequences apart. Runs of 64
// bytes of ASCII are passed over at once. Only where has_ssse3_kernels().
bool is_valid_utf8_ssse3(std::string_view bytes);

}  // namespace quillbox
