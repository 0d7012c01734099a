#include "core/key_name.hpp"

#include "core/utf8.hpp"

namespace quillbox {
namespace {

bool is_ascii_letter(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

bool is_ascii_digit(unsigned char byte) {
    return byte >= '0' && byte <= '9';
}

bool fits_key_name(unsigned char byte, bool is_first) {
    return byte == '_' || is_ascii_letter(byte) || (!is_first && is_ascii_digit(byte));
}

}  // namespace

std::optional<KeyNameViolation> find_key_name_violation(std::string_view name) {
    for (std::size_t offset = 0; offset < name.size(); ++offset) {
        if (fits_key_name(static_cast<unsigned char>(name[offset]), offset == 0)) continue;
        // Names come from text, so they are valid UTF-8; a stray invalid byte is
        // still reported, as the replacement character.
        const Utf8Step step = decode_utf8_step(name, offset);
        return KeyNameViolation{step.valid ? step.code_point : U'\uFFFD', offset};
    }
    return std::nullopt;
}

bool is_valid_key_name(std::string_view name) {
    return !name.empty() && !find_key_name_violation(name).has_value();
}

}  // namespace quillbox
