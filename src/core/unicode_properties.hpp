#pragma once

namespace quillbox {

// Unicode character properties, as the error texts and the tokenizer need
// them, in the Unicode version the build pins (unicode_tables.hpp).

// True for characters that are shown escaped in messages: control, format,
// surrogate, private-use and unassigned code points, separators other than the
// ASCII space, and combining marks (Grapheme_Extend).
bool needs_escape_in_message(char32_t code_point);

// The Alphabetic property.
bool is_alphabetic(char32_t code_point);

// General category Nd, Nl or No.
bool is_numeric(char32_t code_point);

}  // namespace quillbox
