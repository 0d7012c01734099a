#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillbox {

// Formatting of field values inside error messages.

// A path or other text: in double quotes, its bytes shown as escaped UTF-8
// (quotes, backslashes, control, non-printable and combining characters), with
// every byte that is not part of a valid sequence written as \xNN.
void append_quoted_text(std::string& out, std::string_view bytes);

// A path, quoted and escaped as above.
std::string quoted_path(const std::filesystem::path& path);

// A character: in single quotes, with the same escapes as a path except that a
// single quote is escaped and a double quote is not.
void append_quoted_char(std::string& out, char32_t ch);

// A mode word: "0o" and its octal digits.
void append_octal_mode(std::string& out, std::uint32_t mode);

// Eight bytes as "[1, 2, ...]".
void append_byte_list(std::string& out, const std::array<std::uint8_t, 8>& bytes);

// The system's description of an error number, then " (os error N)".
std::string os_error_text(int code);

}  // namespace quillbox
