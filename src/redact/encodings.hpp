#pragma once

#include <cstddef>
#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {

enum class Base64Alphabet { Standard, UrlSafe };
enum class HexCase { Lower, Upper };

// Which bytes a percent-encoder leaves as they are.
enum class PercentKept {
    // ASCII letters and digits only.
    LettersAndDigits,
    // Letters, digits and "-", ".", "_", "~", as most URL encoders write.
    Unreserved,
    // The same and "/", as path encoders write.
    UnreservedAndSlash,
};

struct PercentStyle {
    PercentKept kept = PercentKept::LettersAndDigits;
    HexCase hex_case = HexCase::Upper;
    // Form encoding writes a space as "+".
    bool space_as_plus = false;
};

struct JsonStyle {
    // Every character outside ASCII (and DEL) as \uXXXX, as a surrogate pair
    // beyond the first plane; otherwise such characters stay UTF-8.
    bool ascii_only = true;
    HexCase hex_case = HexCase::Lower;
    // Some encoders write "/" as "\/".
    bool escape_slash = false;
};

// Each appends the encoded form of `bytes` to `out`, so that many forms can
// share one buffer.

// Base64 with "=" padding to a multiple of four characters, in the standard
// ("+", "/") or the URL-safe ("-", "_") alphabet.
void append_base64(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet);

// The Base64 characters that depend on `bytes` alone when they stand
// `group_offset` (0, 1 or 2) bytes into a three-byte group of a longer text:
// what any Base64 text holding these bytes at that alignment holds, whatever
// comes before and after them. No padding.
void append_base64_run(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet,
                       std::size_t group_offset);

// Every byte that the style does not keep becomes "%" and two hexadecimal
// digits. The default style keeps ASCII letters and digits only.
void append_percent(SecretBytes& out, std::string_view bytes, PercentStyle style = {});

// Two hexadecimal digits per byte, high nibble first.
void append_hex(SecretBytes& out, std::string_view bytes, HexCase letter_case);

// The bytes as the inside of a JSON string: quotation mark, backslash and
// control characters escaped, the latter as \b, \f, \n, \r, \t or \u00XX.
// Bytes that are not UTF-8 are kept as they are.
void append_json_string(SecretBytes& out, std::string_view bytes, JsonStyle style);

}  // namespace quillbox
