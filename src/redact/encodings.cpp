#include "redact/encodings.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/utf8.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kStandardBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUrlSafeBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view kLowerHex = "0123456789abcdef";
constexpr std::string_view kUpperHex = "0123456789ABCDEF";

std::string_view hex_digits(HexCase letter_case) {
    return letter_case == HexCase::Lower ? kLowerHex : kUpperHex;
}

// Which bytes each percent style keeps, by byte value.
using ByteSet = std::array<bool, 256>;

constexpr ByteSet kept_bytes(PercentKept kept) {
    ByteSet set{};
    for (unsigned byte = '0'; byte <= '9'; ++byte) set[byte] = true;
    for (unsigned byte = 'A'; byte <= 'Z'; ++byte) set[byte] = true;
    for (unsigned byte = 'a'; byte <= 'z'; ++byte) set[byte] = true;
    if (kept != PercentKept::LettersAndDigits) {
        for (const unsigned char byte : {'-', '.', '_', '~'}) set[byte] = true;
    }
    if (kept == PercentKept::UnreservedAndSlash) set['/'] = true;
    return set;
}

constexpr std::array<ByteSet, 3> kKeptBytes = {kept_bytes(PercentKept::LettersAndDigits),
                                               kept_bytes(PercentKept::Unreserved),
                                               kept_bytes(PercentKept::UnreservedAndSlash)};

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

// The six bits of `bytes` that start `bit` bits into them; bits beyond the
// end read as zero.
unsigned sextet_at(std::string_view bytes, std::size_t bit) {
    const std::size_t index = bit / 8;
    const auto byte_at = [&](std::size_t i) {
        return i < bytes.size() ? static_cast<unsigned>(static_cast<unsigned char>(bytes[i])) : 0u;
    };
    const unsigned pair = byte_at(index) << 8 | byte_at(index + 1);
    return (pair >> (10 - bit % 8)) & 0x3F;
}

// Writes the Base64 digits of `bytes` that start at `first_bit`, `first_bit`
// + 6, ..., before `end_bit`.
void append_sextets(SecretBytes& out, std::string_view bytes, std::string_view digits,
                    std::size_t first_bit, std::size_t end_bit) {
    if (end_bit <= first_bit) return;
    unsigned char* at = extend(out, (end_bit - first_bit + 5) / 6);
    for (std::size_t bit = first_bit; bit < end_bit; bit += 6) {
        *at++ = static_cast<unsigned char>(digits[sextet_at(bytes, bit)]);
    }
}

std::string_view base64_digits(Base64Alphabet alphabet) {
    return alphabet == Base64Alphabet::Standard ? kStandardBase64 : kUrlSafeBase64;
}

void append_json_escape(SecretBytes& out, char32_t unit, HexCase letter_case) {
    const std::string_view digits = hex_digits(letter_case);
    unsigned char* at = extend(out, 6);
    *at++ = '\\';
    *at++ = 'u';
    for (int shift = 12; shift >= 0; shift -= 4) {
        *at++ = static_cast<unsigned char>(digits[(unit >> shift) & 0xF]);
    }
}

// The short escape JSON has for a character, or 0.
char short_json_escape(unsigned char byte, bool escape_slash) {
    switch (byte) {
        case '"': return '"';
        case '\\': return '\\';
        case '\b': return 'b';
        case '\f': return 'f';
        case '\n': return 'n';
        case '\r': return 'r';
        case '\t': return 't';
        case '/': return escape_slash ? '/' : 0;
        default: return 0;
    }
}

}  // namespace

void append_base64(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet) {
    const std::size_t bits = 8 * bytes.size();
    append_sextets(out, bytes, base64_digits(alphabet), 0, bits);
    // One to three digits of the last group are written; "=" fills it up.
    const std::size_t digits_written = (bits + 5) / 6;
    const std::size_t padding = (4 - digits_written % 4) % 4;
    std::fill_n(extend(out, padding), padding, '=');
}

void append_base64_run(SecretBytes& out, std::string_view bytes, Base64Alphabet alphabet,
                       std::size_t group_offset) {
    // In the whole text the bytes start `lead` bits in; the digits that lie
    // wholly within them start at the first multiple of six from there.
    const std::size_t lead = 8 * group_offset;
    const std::size_t first_digit = (lead + 5) / 6 * 6;
    const std::size_t end = (lead + 8 * bytes.size()) / 6 * 6;
    if (end <= first_digit) return;
    append_sextets(out, bytes, base64_digits(alphabet), first_digit - lead, end - lead);
}

void append_percent(SecretBytes& out, std::string_view bytes, PercentStyle style) {
    const std::string_view digits = hex_digits(style.hex_case);
    const ByteSet& kept = kKeptBytes[static_cast<std::size_t>(style.kept)];
    const auto written_as_is = [&](unsigned char byte) {
        return kept[byte] || (style.space_as_plus && byte == ' ');
    };
    const auto unchanged = static_cast<std::size_t>(std::ranges::count_if(
        bytes, [&](char c) { return written_as_is(static_cast<unsigned char>(c)); }));
    unsigned char* at = extend(out, unchanged + 3 * (bytes.size() - unchanged));
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (kept[byte]) {
            *at++ = byte;
        } else if (style.space_as_plus && byte == ' ') {
            *at++ = '+';
        } else {
            *at++ = '%';
            at = write_hex_pair(at, byte, digits);
        }
    }
}

void append_hex(SecretBytes& out, std::string_view bytes, HexCase letter_case) {
    const std::string_view digits = hex_digits(letter_case);
    unsigned char* at = extend(out, 2 * bytes.size());
    for (const char c : bytes) at = write_hex_pair(at, static_cast<unsigned char>(c), digits);
}

void append_json_string(SecretBytes& out, std::string_view bytes, JsonStyle style) {
    const auto written_as_is = [&](unsigned char byte) {
        return byte >= 0x20 && byte != '"' && byte != '\\' &&
               !(style.escape_slash && byte == '/') && (!style.ascii_only || byte < 0x7F);
    };
    for (std::size_t offset = 0; offset < bytes.size();) {
        // A run of bytes written as they are goes in at once.
        std::size_t run_end = offset;
        while (run_end < bytes.size() &&
               written_as_is(static_cast<unsigned char>(bytes[run_end]))) {
            ++run_end;
        }
        out.append(bytes.substr(offset, run_end - offset));
        if (run_end == bytes.size()) break;
        offset = run_end;
        const auto byte = static_cast<unsigned char>(bytes[offset]);
        if (const char escape = short_json_escape(byte, style.escape_slash)) {
            unsigned char* at = extend(out, 2);
            at[0] = '\\';
            at[1] = static_cast<unsigned char>(escape);
            ++offset;
        } else if (byte < 0x80) {
            // A control character, or DEL where only ASCII is written.
            append_json_escape(out, byte, style.hex_case);
            ++offset;
        } else {
            const Utf8Step step = decode_utf8_step(bytes, offset);
            if (!step.valid) {
                out.append(bytes.substr(offset, step.length));
            } else if (step.code_point < 0x10000) {
                append_json_escape(out, step.code_point, style.hex_case);
            } else {
                const char32_t beyond = step.code_point - 0x10000;
                append_json_escape(out, 0xD800 + (beyond >> 10), style.hex_case);
                append_json_escape(out, 0xDC00 + (beyond & 0x3FF), style.hex_case);
            }
            offset += step.length;
        }
    }
}

}  // namespace quillbox
