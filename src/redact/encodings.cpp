#include "redact/encodings.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kStandardBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUrlSafeBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view kLowerHex = "0123456789abcdef";
constexpr std::string_view kUpperHex = "0123456789ABCDEF";

bool is_ascii_alphanumeric(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= 'a' && byte <= 'z');
}

void push_hex_pair(SecretBytes& out, unsigned char byte, std::string_view digits) {
    out.push_back(static_cast<unsigned char>(digits[byte >> 4]));
    out.push_back(static_cast<unsigned char>(digits[byte & 0x0F]));
}

}  // namespace

SecretBytes encode_base64(std::string_view bytes, Base64Alphabet alphabet) {
    const std::string_view digits =
        alphabet == Base64Alphabet::Standard ? kStandardBase64 : kUrlSafeBase64;
    SecretBytes out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t offset = 0;
    for (; offset + 3 <= bytes.size(); offset += 3) {
        const auto group = static_cast<unsigned>(static_cast<unsigned char>(bytes[offset])) << 16 |
                           static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + 1]))
                               << 8 |
                           static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + 2]));
        for (int shift = 18; shift >= 0; shift -= 6) {
            out.push_back(static_cast<unsigned char>(digits[(group >> shift) & 0x3F]));
        }
    }
    const std::size_t remaining = bytes.size() - offset;
    if (remaining != 0) {
        unsigned group = static_cast<unsigned>(static_cast<unsigned char>(bytes[offset])) << 16;
        if (remaining == 2) {
            group |= static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + 1])) << 8;
        }
        out.push_back(static_cast<unsigned char>(digits[(group >> 18) & 0x3F]));
        out.push_back(static_cast<unsigned char>(digits[(group >> 12) & 0x3F]));
        out.push_back(remaining == 2 ? static_cast<unsigned char>(digits[(group >> 6) & 0x3F])
                                     : static_cast<unsigned char>('='));
        out.push_back(static_cast<unsigned char>('='));
    }
    return out;
}

SecretBytes encode_percent(std::string_view bytes) {
    SecretBytes out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_ascii_alphanumeric(byte)) {
            out.push_back(byte);
        } else {
            out.push_back('%');
            push_hex_pair(out, byte, kUpperHex);
        }
    }
    return out;
}

SecretBytes encode_hex(std::string_view bytes, HexCase letter_case) {
    const std::string_view digits = letter_case == HexCase::Lower ? kLowerHex : kUpperHex;
    SecretBytes out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) push_hex_pair(out, static_cast<unsigned char>(c), digits);
    return out;
}

}  // namespace quillbox
