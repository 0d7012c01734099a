#pragma once

#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {

enum class Base64Alphabet { Standard, UrlSafe };
enum class HexCase { Lower, Upper };

// Each appends the encoded form of `bytes` to `out`, so that many forms can
// share one buffer.

// Base64 with "=" padding to a multiple of four characters, in the standard
// ("+", "/") or the URL-safe ("-", "_") alphabet.
void append_base64(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet);

// Every byte other than an ASCII letter or digit becomes "%" and two
// upper-case hexadecimal digits.
void append_percent(SecretBytes& out, std::string_view bytes);

// Two hexadecimal digits per byte, high nibble first.
void append_hex(SecretBytes& out, std::string_view bytes, HexCase letter_case);

}  // namespace quillbox
