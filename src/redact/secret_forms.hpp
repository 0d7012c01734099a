#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "core/secret_bytes.hpp"
#include "redact/encodings.hpp"

namespace quillbox {

struct Raw {};
struct PaddedBase64 {
    Base64Alphabet alphabet;
};
struct Base64Run {
    Base64Alphabet alphabet;
    std::size_t group_offset;
};
struct Hex {
    HexCase letter_case;
    // Written between two bytes, as fingerprints and `openssl x509 -text`
    // write them; none when NUL.
    char separator = '\0';
};
using Encoding = std::variant<Raw, PaddedBase64, Base64Run, PercentStyle, Hex, JsonStyle,
                              HtmlEscaper, ShellQuoting, ReprQuote>;

struct SecretForm {
    Encoding encoding;
    std::string_view label_suffix;
    // Whether the form writes each character (a UTF-8 sequence, or bytes
    // that are not one) on its own, whatever stands around it, and ASCII
    // letters and digits as they are: then how it writes the value's other
    // characters decides the whole form.
    bool per_character;
};

// At most this many forms, so that a set of them fits a small bitset and a
// form's number a byte.
inline constexpr std::size_t kMaxSecretForms = 128;

// The forms from this one on are the encoders'.
inline constexpr std::uint8_t kFirstEncoderForm = 7;

// Every form a value may give, in order: the value itself, the standard
// forms, then the forms real encoders write.
std::span<const SecretForm> secret_forms();

void append_form(SecretBytes& out, std::string_view value, const Encoding& encoding);

}  // namespace quillbox
