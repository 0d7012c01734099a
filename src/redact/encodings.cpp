#include "redact/encodings.hpp"

#include <algorithm>

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

// Room for `count` more bytes at the end of `out`, to be written through the
// pointer returned. The buffer grows geometrically, so many appends stay linear.
unsigned char* extend(SecretBytes& out, std::size_t count) {
    const std::size_t used = out.size();
    if (used + count > out.capacity()) out.reserve(std::max(used + count, 2 * out.capacity()));
    out.resize(used + count);
    return out.data() + used;
}

unsigned char* write_hex_pair(unsigned char* at, unsigned char byte, std::string_view digits) {
    *at++ = static_cast<unsigned char>(digits[byte >> 4]);
    *at++ = static_cast<unsigned char>(digits[byte & 0x0F]);
    return at;
}

}  // namespace

void append_base64(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet) {
    const std::string_view digits =
        alphabet == Base64Alphabet::Standard ? kStandardBase64 : kUrlSafeBase64;
    unsigned char* at = extend(out, (bytes.size() + 2) / 3 * 4);
    const auto digit = [&](unsigned group, int shift) {
        return static_cast<unsigned char>(digits[(group >> shift) & 0x3F]);
    };
    std::size_t offset = 0;
    for (; offset + 3 <= bytes.size(); offset += 3) {
        const auto group = static_cast<unsigned>(static_cast<unsigned char>(bytes[offset])) << 16 |
                           static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + 1]))
                               << 8 |
                           static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + 2]));
        for (int shift = 18; shift >= 0; shift -= 6) *at++ = digit(group, shift);
    }
    const std::size_t remaining = bytes.size() - offset;
    if (remaining != 0) {
        unsigned group = static_cast<unsigned>(static_cast<unsigned char>(bytes[offset])) << 16;
        if (remaining == 2) {
            group |= static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + 1])) << 8;
        }
        *at++ = digit(group, 18);
        *at++ = digit(group, 12);
        *at++ = remaining == 2 ? digit(group, 6) : static_cast<unsigned char>('=');
        *at++ = static_cast<unsigned char>('=');
    }
}

void append_percent(SecretBytes& out, std::string_view bytes) {
    const auto kept = static_cast<std::size_t>(std::ranges::count_if(
        bytes, [](char c) { return is_ascii_alphanumeric(static_cast<unsigned char>(c)); }));
    unsigned char* at = extend(out, kept + 3 * (bytes.size() - kept));
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (is_ascii_alphanumeric(byte)) {
            *at++ = byte;
        } else {
            *at++ = '%';
            at = write_hex_pair(at, byte, kUpperHex);
        }
    }
}

void append_hex(SecretBytes& out, std::string_view bytes, HexCase letter_case) {
    const std::string_view digits = letter_case == HexCase::Lower ? kLowerHex : kUpperHex;
    unsigned char* at = extend(out, 2 * bytes.size());
    for (const char c : bytes) at = write_hex_pair(at, static_cast<unsigned char>(c), digits);
}

}  // namespace quillbox
