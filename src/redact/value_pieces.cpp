#include "redact/value_pieces.hpp"

#include <algorithm>
#include <span>
#include <vector>

#include "core/internal_error.hpp"
#include "redact/encodings.hpp"
#include "redact/secret_forms.hpp"

namespace quillbox {
namespace {

std::vector<PieceForm> make_piece_forms() {
    // Where the first line of one form begins that of another, the longer
    // comes first, so that it wins where both match: a line of Base64 at 76
    // columns begins with the line at 64.
    std::vector<PieceForm> forms = {
        {PieceFamily::Line, "_LINE"},
        {PieceFamily::Base64At76Columns, "_B64"},
        {PieceFamily::Base64At64Columns, "_B64"},
        {PieceFamily::PlainHexLine, "_HEX"},
        {PieceFamily::XxdLine, "_HEX"},
        {PieceFamily::HexdumpHexColumn, "_HEX"},
        {PieceFamily::HexdumpTextColumn, "_HEX"},
        {PieceFamily::OdCharacterLine, "_HEX"},
    };
    // A pattern's form is one byte, counting the secret forms first.
    if (kMaxSecretForms + forms.size() > UINT8_MAX + 1) {
        throw InternalError("more piece forms than a pattern's form numbers", "src/redact");
    }
    return forms;
}

// The bytes of the value that a line of a dump or of wrapped Base64 holds.
std::size_t bytes_per_line(PieceFamily family) {
    switch (family) {
        case PieceFamily::Base64At64Columns: return 48;
        case PieceFamily::Base64At76Columns: return 57;
        case PieceFamily::PlainHexLine: return 30;
        case PieceFamily::XxdLine:
        case PieceFamily::HexdumpHexColumn:
        case PieceFamily::HexdumpTextColumn:
        case PieceFamily::OdCharacterLine: return 16;
        case PieceFamily::Line: break;
    }
    return 0;
}

bool printable(unsigned char byte) {
    return byte >= 0x20 && byte < 0x7F;
}

// Appends the hex column of a dump line, with what stands between each byte
// and the next: in `hexdump -C` a space, two after the eighth byte; in `xxd`
// a space after every second byte.
void append_hex_column(SecretBytes& out, std::string_view bytes, PieceFamily family) {
    constexpr std::string_view kDigits = "0123456789abcdef";
    const std::span<unsigned char> room = out.room_to_append(3 * bytes.size() + 1);
    unsigned char* at = room.data();
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        if (index > 0) {
            if (family == PieceFamily::HexdumpHexColumn) {
                if (index == 8) *at++ = ' ';
                *at++ = ' ';
            } else if (index % 2 == 0) {
                *at++ = ' ';
            }
        }
        const auto byte = static_cast<unsigned char>(bytes[index]);
        *at++ = static_cast<unsigned char>(kDigits[byte >> 4]);
        *at++ = static_cast<unsigned char>(kDigits[byte & 0xF]);
    }
    out.commit_appended(static_cast<std::size_t>(at - room.data()));
}

// Appends the text column of a dump line and returns how many of its
// characters are the bytes' own, not ".".
std::size_t append_text_column(SecretBytes& out, std::string_view bytes) {
    const std::span<unsigned char> room = out.room_to_append(bytes.size());
    std::size_t own = 0;
    for (std::size_t index = 0; index < bytes.size(); ++index) {
        const auto byte = static_cast<unsigned char>(bytes[index]);
        room[index] = printable(byte) ? byte : '.';
        own += printable(byte) && byte != '.' ? 1 : 0;
    }
    out.commit_appended(bytes.size());
    return own;
}

// Appends a line of `od -c`'s characters and returns how many of them are not
// the spaces that align them.
std::size_t append_od_characters(SecretBytes& out, std::string_view bytes) {
    // The letters after the backslash of \0, \a, \b, \t, \n, \v, \f and \r.
    constexpr std::string_view kEscapeLetters = "0abtnvfr";
    const std::size_t start = out.size();
    std::size_t spaces = 0;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const std::size_t field_start = out.size();
        if (byte == 0 || (byte >= '\a' && byte <= '\r')) {
            const std::size_t index = byte == 0 ? 0 : byte - '\a' + 1;
            out.append("  \\");
            out.push_back(kEscapeLetters[index]);
        } else if (printable(byte)) {
            out.append("   ");
            out.push_back(c);
        } else {
            const char octal[] = {' ', static_cast<char>('0' + (byte >> 6)),
                                  static_cast<char>('0' + ((byte >> 3) & 7)),
                                  static_cast<char>('0' + (byte & 7))};
            out.append(std::string_view(octal, sizeof octal));
        }
        const std::string_view field = out.view().substr(field_start);
        spaces += static_cast<std::size_t>(std::ranges::count(field, ' '));
    }
    return out.size() - start - spaces;
}

// Appends the line of a dump or of wrapped Base64 that holds `bytes`, and
// returns how many of its characters depend on them.
std::size_t append_dump_line(SecretBytes& out, std::string_view bytes, PieceFamily family) {
    switch (family) {
        case PieceFamily::Base64At64Columns:
        case PieceFamily::Base64At76Columns: {
            const std::size_t before = out.size();
            append_base64(out, bytes, Base64Alphabet::Standard);
            return out.size() - before;
        }
        case PieceFamily::PlainHexLine:
            append_hex(out, bytes, HexCase::Lower);
            return 2 * bytes.size();
        case PieceFamily::XxdLine: {
            const std::size_t start = out.size();
            append_hex_column(out, bytes, family);
            // The hex column padded to 39 characters, then two spaces.
            constexpr std::string_view kPadding = "                                         ";
            out.append(kPadding.substr(0, kPadding.size() - (out.size() - start)));
            append_text_column(out, bytes);
            return 2 * bytes.size();
        }
        case PieceFamily::HexdumpHexColumn:
            append_hex_column(out, bytes, family);
            return 2 * bytes.size();
        case PieceFamily::HexdumpTextColumn: {
            out.append("  |");
            const std::size_t own = append_text_column(out, bytes);
            out.push_back('|');
            return own;
        }
        case PieceFamily::OdCharacterLine: return append_od_characters(out, bytes);
        case PieceFamily::Line: break;
    }
    return 0;
}

// The value's bytes on dump line `number`.
std::string_view dump_line_bytes(std::string_view value, PieceFamily family, std::size_t number) {
    const std::size_t line_bytes = bytes_per_line(family);
    return value.substr(std::min(number * line_bytes, value.size()), line_bytes);
}

// The line of the value that starts at `start`, without its ending.
std::string_view line_at(std::string_view value, std::size_t start) {
    std::string_view line = value.substr(start, value.find('\n', start) - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line;
}

}  // namespace

std::span<const PieceForm> piece_forms() {
    static const std::vector<PieceForm> forms = make_piece_forms();
    return forms;
}

void for_each_piece(std::string_view value, const PieceForm& form, SecretBytes& scratch,
                    const std::function<void(std::uint32_t, std::string_view)>& found) {
    if (form.family == PieceFamily::Line) {
        // A value on one line is itself a pattern already.
        if (value.find('\n') == std::string_view::npos) return;
        std::uint32_t number = 0;
        for (std::size_t start = 0; start < value.size() && number < kMaxPieces; ++number) {
            const std::string_view line = line_at(value, start);
            if (line.size() >= kMinPieceCharacters) found(number, line);
            const std::size_t end = value.find('\n', start);
            start = end == std::string_view::npos ? value.size() : end + 1;
        }
        return;
    }
    const std::size_t line_bytes = bytes_per_line(form.family);
    const std::size_t lines = (value.size() + line_bytes - 1) / line_bytes;
    for (std::uint32_t number = 0; number < lines && number < kMaxPieces; ++number) {
        scratch.resize(0);
        const std::string_view bytes = dump_line_bytes(value, form.family, number);
        if (append_dump_line(scratch, bytes, form.family) >= kMinPieceCharacters) {
            found(number, scratch.view());
        }
    }
}

void append_piece(SecretBytes& out, std::string_view value, const PieceForm& form,
                  std::uint32_t number) {
    if (form.family == PieceFamily::Line) {
        std::size_t start = 0;
        for (std::uint32_t line = 0; line < number; ++line) start = value.find('\n', start) + 1;
        out.append(line_at(value, start));
        return;
    }
    append_dump_line(out, dump_line_bytes(value, form.family, number), form.family);
}

}  // namespace quillbox
