#include "redact/encodings.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <utility>

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

// The characters besides ASCII letters and digits that each percent style
// keeps, in the order of PercentKept.
constexpr std::array<std::string_view, 9> kKeptPunctuation = {
    "", "-._~", "-._~/", "-._~!*'()", "-._~$&+:=@", "-._~$&+,;=", "-._~$&+,/:;=@", "-._", "-._*",
};
static_assert(kKeptPunctuation.size() ==
              static_cast<std::size_t>(PercentKept::LettersDigitsAndDashDotUnderscoreStar) + 1);

constexpr ByteSet kept_bytes(std::string_view punctuation) {
    ByteSet set{};
    for (unsigned byte = '0'; byte <= '9'; ++byte) set[byte] = true;
    for (unsigned byte = 'A'; byte <= 'Z'; ++byte) set[byte] = true;
    for (unsigned byte = 'a'; byte <= 'z'; ++byte) set[byte] = true;
    for (const char c : punctuation) set[static_cast<unsigned char>(c)] = true;
    return set;
}

constexpr std::array<ByteSet, kKeptPunctuation.size()> kKeptBytes = [] {
    std::array<ByteSet, kKeptPunctuation.size()> sets{};
    for (std::size_t kept = 0; kept < sets.size(); ++kept) {
        sets[kept] = kept_bytes(kKeptPunctuation[kept]);
    }
    return sets;
}();

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

// Whether an HTML-safe JSON encoder writes the ASCII character as \u00XX.
bool html_escaped_in_json(unsigned char byte, JsonHtmlEscapes html) {
    switch (html) {
        case JsonHtmlEscapes::None: return false;
        case JsonHtmlEscapes::Tags: return byte == '<' || byte == '>' || byte == '&';
        case JsonHtmlEscapes::TagsAndApostrophe:
        case JsonHtmlEscapes::PhpTagsAndApostrophe:
            return byte == '<' || byte == '>' || byte == '&' || byte == '\'';
        case JsonHtmlEscapes::TagsEqualsAndApostrophe:
            return byte == '<' || byte == '>' || byte == '&' || byte == '\'' || byte == '=';
    }
    return false;
}

bool is_line_separator(char32_t code_point) {
    return code_point == 0x2028 || code_point == 0x2029;
}

// The character reference an HTML escaper writes for an ASCII character, or
// an empty view where the character stays.
std::string_view html_reference(unsigned char byte, HtmlEscaper escaper) {
    using enum HtmlEscaper;
    switch (byte) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"':
            switch (escaper) {
                case TextOnly: return {};
                case DecimalQuotes:
                case DecimalQuotesAndPlus: return "&#34;";
                default: return "&quot;";
            }
        case '\'':
            switch (escaper) {
                case TextOnly:
                case DoubleQuoteNamed: return {};
                case HexApostrophe: return "&#x27;";
                case PaddedDecimalApostrophe: return "&#039;";
                case NamedApostrophe: return "&apos;";
                default: return "&#39;";
            }
        case '+': return escaper == DecimalQuotesAndPlus ? "&#43;" : std::string_view{};
        default: return {};
    }
}

// The characters printf %q writes after a backslash (bash's
// sh_backslash_quote), besides "#" and "~" at the start of a word.
bool special_to_shell(unsigned char byte) {
    return std::string_view(" \t\n'\"\\|&;()<>!{}*[?]^$`,").contains(static_cast<char>(byte));
}

// What $'...' writes for a byte: bash's ansic_quote.
void append_ansi_c_byte(SecretBytes& out, unsigned char byte) {
    char escape = 0;
    switch (byte) {
        case '\a': escape = 'a'; break;
        case '\b': escape = 'b'; break;
        case '\f': escape = 'f'; break;
        case '\n': escape = 'n'; break;
        case '\r': escape = 'r'; break;
        case '\t': escape = 't'; break;
        case '\v': escape = 'v'; break;
        case 0x1B: escape = 'E'; break;
        case '\'':
        case '\\': escape = static_cast<char>(byte); break;
        default: break;
    }
    if (escape != 0) {
        unsigned char* at = extend(out, 2);
        at[0] = '\\';
        at[1] = static_cast<unsigned char>(escape);
    } else if (byte >= 0x20 && byte < 0x7F) {
        *extend(out, 1) = byte;
    } else {
        unsigned char* at = extend(out, 4);
        at[0] = '\\';
        at[1] = static_cast<unsigned char>('0' + (byte >> 6));
        at[2] = static_cast<unsigned char>('0' + ((byte >> 3) & 7));
        at[3] = static_cast<unsigned char>('0' + (byte & 7));
    }
}

// The code points beyond ASCII that Python's str.isprintable() rejects
// (categories Cc, Cf, Co, Cs, Zs, Zl, Zp in Unicode 14), as closed ranges;
// unassigned code points are taken as printable.
constexpr std::array<std::pair<char32_t, char32_t>, 27> kUnprintableRanges = {{
    {0x80, 0xA0},       {0xAD, 0xAD},       {0x600, 0x605},       {0x61C, 0x61C},
    {0x6DD, 0x6DD},     {0x70F, 0x70F},     {0x890, 0x891},       {0x8E2, 0x8E2},
    {0x1680, 0x1680},   {0x180E, 0x180E},   {0x2000, 0x200F},     {0x2028, 0x202F},
    {0x205F, 0x2064},   {0x2066, 0x206F},   {0x3000, 0x3000},     {0xD800, 0xF8FF},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},   {0x110CD, 0x110CD},
    {0x13430, 0x13438}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A},   {0xE0001, 0xE0001},
    {0xE0020, 0xE007F}, {0xF0000, 0xFFFFD}, {0x100000, 0x10FFFD},
}};

bool printable_in_python(char32_t code_point) {
    if (code_point < 0x80) return code_point >= 0x20 && code_point < 0x7F;
    const auto after = std::ranges::upper_bound(kUnprintableRanges, code_point, {},
                                                [](const auto& range) { return range.first; });
    return after == kUnprintableRanges.begin() || std::prev(after)->second < code_point;
}

// \xXX, \uXXXX or \UXXXXXXXX, as repr() writes a code point it cannot show.
void append_python_escape(SecretBytes& out, char32_t code_point) {
    const int digits = code_point <= 0xFF ? 2 : code_point <= 0xFFFF ? 4 : 8;
    unsigned char* at = extend(out, 2 + static_cast<std::size_t>(digits));
    *at++ = '\\';
    *at++ = digits == 2 ? 'x' : digits == 4 ? 'u' : 'U';
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        *at++ = static_cast<unsigned char>(kLowerHex[(code_point >> shift) & 0xF]);
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

std::size_t percent_encoded_size(std::string_view bytes, PercentStyle style) {
    const ByteSet& kept = kKeptBytes[static_cast<std::size_t>(style.kept)];
    const auto unchanged = static_cast<std::size_t>(std::ranges::count_if(bytes, [&](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return kept[byte] || (style.space_as_plus && byte == ' ');
    }));
    return unchanged + 3 * (bytes.size() - unchanged);
}

void append_percent(SecretBytes& out, std::string_view bytes, PercentStyle style) {
    const std::string_view digits = hex_digits(style.hex_case);
    const ByteSet& kept = kKeptBytes[static_cast<std::size_t>(style.kept)];
    unsigned char* at = extend(out, percent_encoded_size(bytes, style));
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

void append_hex(SecretBytes& out, std::string_view bytes, HexCase letter_case, char separator) {
    const std::string_view digits = hex_digits(letter_case);
    const std::size_t separators = separator != '\0' && !bytes.empty() ? bytes.size() - 1 : 0;
    unsigned char* at = extend(out, 2 * bytes.size() + separators);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index > 0 && separators > 0) *at++ = static_cast<unsigned char>(separator);
        at = write_hex_pair(at, static_cast<unsigned char>(bytes[index]), digits);
    }
}

void append_json_string(SecretBytes& out, std::string_view bytes, JsonStyle style) {
    const bool escape_line_separators = style.html != JsonHtmlEscapes::None;
    const auto written_as_is = [&](unsigned char byte) {
        return byte >= 0x20 && byte != '"' && byte != '\\' &&
               !(style.escape_slash && byte == '/') && !html_escaped_in_json(byte, style.html) &&
               (byte < 0x7F || (!style.ascii_only && !(escape_line_separators && byte == 0xE2)));
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
            // A control character, DEL where only ASCII is written, or a
            // character escaped for HTML.
            const bool php_tag =
                style.html == JsonHtmlEscapes::PhpTagsAndApostrophe && (byte == '<' || byte == '>');
            append_json_escape(out, byte, php_tag ? HexCase::Upper : style.hex_case);
            ++offset;
        } else {
            const Utf8Step step = decode_utf8_step(bytes, offset);
            if (!step.valid || (!style.ascii_only && !is_line_separator(step.code_point))) {
                // Not UTF-8, or a character kept that shares its lead byte
                // with the line separators.
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

void append_html_escaped(SecretBytes& out, std::string_view bytes, HtmlEscaper escaper) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const std::string_view reference = html_reference(byte, escaper);
        if (reference.empty()) {
            *extend(out, 1) = byte;
        } else {
            out.append(reference);
        }
    }
}

void append_shell_quoted(SecretBytes& out, std::string_view bytes, ShellQuoting quoting) {
    using enum ShellQuoting;
    for (std::size_t offset = 0; offset < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[offset]);
        if (quoting == AnsiCUtf8 && byte >= 0x80) {
            const Utf8Step step = decode_utf8_step(bytes, offset);
            if (step.valid) {
                out.append(bytes.substr(offset, step.length));
            } else {
                for (const char invalid : bytes.substr(offset, step.length)) {
                    append_ansi_c_byte(out, static_cast<unsigned char>(invalid));
                }
            }
            offset += step.length;
            continue;
        }
        ++offset;
        if (quoting == AnsiC || quoting == AnsiCUtf8) {
            append_ansi_c_byte(out, byte);
        } else if (byte == '\'' && quoting == SingleQuoted) {
            out.append("'\\''");
        } else if (byte == '\'' && quoting == SingleQuotedWithDoubleQuotedApostrophe) {
            out.append("'\"'\"'");
        } else if (quoting == Backslashed && special_to_shell(byte)) {
            unsigned char* at = extend(out, 2);
            at[0] = '\\';
            at[1] = byte;
        } else {
            *extend(out, 1) = byte;
        }
    }
}

void append_python_repr(SecretBytes& out, std::string_view bytes, ReprQuote quote) {
    const char quotation_mark = quote == ReprQuote::Single ? '\'' : '"';
    for (std::size_t offset = 0; offset < bytes.size();) {
        const Utf8Step step = decode_utf8_step(bytes, offset);
        const std::string_view character = bytes.substr(offset, step.length);
        offset += step.length;
        if (!step.valid) {
            out.append(character);
            continue;
        }
        const char32_t code_point = step.code_point;
        if (code_point == '\\' || code_point == static_cast<char32_t>(quotation_mark)) {
            unsigned char* at = extend(out, 2);
            at[0] = '\\';
            at[1] = static_cast<unsigned char>(code_point);
        } else if (code_point == '\t') {
            out.append("\\t");
        } else if (code_point == '\n') {
            out.append("\\n");
        } else if (code_point == '\r') {
            out.append("\\r");
        } else if (printable_in_python(code_point)) {
            out.append(character);
        } else {
            append_python_escape(out, code_point);
        }
    }
}

}  // namespace quillbox
