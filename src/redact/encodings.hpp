#pragma once

#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {

enum class Base64Alphabet { Standard, UrlSafe };
enum class HexCase { Lower, Upper };

// Base64 with "=" padding to a multiple of four characters, in the standard
// ("+", "/") or the URL-safe ("-", "_") alphabet.
SecretBytes encode_base64(std::string_view bytes, Base64Alphabet alphabet);

// Every byte other than an ASCII letter or digit becomes "%" and two
// upper-case hexadecimal digits.
SecretBytes encode_percent(std::string_view bytes);

// Two hexadecimal digits per byte, high nibble first.
SecretBytes encode_hex(std::string_view bytes, HexCase letter_case);

}  // namespace quillbox
