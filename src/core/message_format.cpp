#include "core/message_format.hpp"

#include <cstdio>
#include <cstring>

#include "core/unicode_properties.hpp"
#include "core/utf8.hpp"

namespace quillbox {
namespace {

enum class Quote { Double, Single };

// Appends one short formatted number (never more than a few characters).
template <typename Value>
void append_printf(std::string& out, const char* format, Value value) {
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, format, value);
    out.append(buffer, static_cast<std::size_t>(length));
}

void append_escaped_char(std::string& out, char32_t ch, Quote quote) {
    switch (ch) {
        case U'\t': out += "\\t"; return;
        case U'\r': out += "\\r"; return;
        case U'\n': out += "\\n"; return;
        case U'\0': out += "\\0"; return;
        case U'\\': out += "\\\\"; return;
        case U'"': out += quote == Quote::Double ? "\\\"" : "\""; return;
        case U'\'': out += quote == Quote::Single ? "\\'" : "'"; return;
        default: break;
    }
    if (needs_escape_in_message(ch)) {
        append_printf(out, "\\u{%x}", static_cast<unsigned>(ch));
    } else {
        append_utf8(out, ch);
    }
}

}  // namespace

void append_quoted_text(std::string& out, std::string_view bytes) {
    out += '"';
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const Utf8Step step = decode_utf8_step(bytes, offset);
        if (step.valid) {
            append_escaped_char(out, step.code_point, Quote::Double);
        } else {
            for (std::size_t i = 0; i < step.length; ++i) {
                append_printf(out, "\\x%02X", static_cast<unsigned char>(bytes[offset + i]));
            }
        }
        offset += step.length;
    }
    out += '"';
}

std::string quoted_path(const std::filesystem::path& path) {
    std::string text;
    append_quoted_text(text, path.native());
    return text;
}

void append_quoted_char(std::string& out, char32_t ch) {
    out += '\'';
    append_escaped_char(out, ch, Quote::Single);
    out += '\'';
}

void append_octal_mode(std::string& out, std::uint32_t mode) {
    append_printf(out, "0o%o", static_cast<unsigned>(mode));
}

void append_byte_list(std::string& out, const std::array<std::uint8_t, 8>& bytes) {
    out += '[';
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) out += ", ";
        out += std::to_string(bytes[i]);
    }
    out += ']';
}

std::string os_error_text(int code) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* description = strerror_r(code, buffer, sizeof buffer);
    return std::string(description) + " (os error " + std::to_string(code) + ")";
}

}  // namespace quillbox
