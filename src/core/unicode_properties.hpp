#pragma once

namespace quillbox {

// Unicode character properties, as the error texts, the tokenizer and the
// lockfile reader need them, in the Unicode version the build pins
// (unicode_tables.hpp).

// True for characters that are shown escaped in messages: control, format,
// surrogate, private-use and unassigned code points, separators other than the
// ASCII space, and combining marks (Grapheme_Extend).
bool needs_escape_in_message(char32_t code_point);

// The Alphabetic property.
bool is_alphabetic(char32_t code_point);

// General category Nd, Nl or No.
bool is_numeric(char32_t code_point);

// The White_Space property.
bool is_white_space(char32_t code_point);

}  // namespace quillbox
