#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "core/secret_bytes.hpp"

namespace quillbox {

// How a program writes a value over several lines, each line a piece that
// output holds apart from the others: a prefix or a changed line ending
// leaves every other line as it was.
enum class PieceFamily : std::uint8_t {
    // A line of the value without its "\n" or "\r\n".
    Line,
    // A line of the value's standard Base64 wrapped at 64 columns (PEM,
    // `openssl base64`): 48 bytes a line.
    Base64At64Columns,
    // The same wrapped at 76 columns (`base64`): 57 bytes a line.
    Base64At76Columns,
    // `xxd -p`: 30 bytes a line in lower-case hex.
    PlainHexLine,
    // A line of `xxd`, all of it but the offset: 16 bytes in lower-case hex,
    // a space after every second byte, padded to 39 characters, two spaces,
    // then the text column, printable ASCII as it is and every other byte as
    // ".". The hex and text columns are one pattern, so that a value's bytes
    // in other text are not taken for its dump; at 57 characters, it is
    // found by the matcher whole.
    XxdLine,
    // The columns of a line of `hexdump -C`, which together would outgrow
    // the matcher's heads: 16 bytes in lower-case hex, a space between bytes
    // and two after the eighth;
    HexdumpHexColumn,
    // and the text column with the two spaces and the "|" before it and the
    // "|" after it, listed when 8 of its characters are the bytes' own, not
    // ".". The spaces keep a short value between two "|" in a table from
    // being taken for its dump.
    HexdumpTextColumn,
    // A line of `od -c` but its offset: 16 bytes, each right-aligned in four
    // columns, printable ASCII as it is, the usual control characters as
    // C escapes ("\n") and every other byte as three octal digits.
    OdCharacterLine,
};

// Dumps are of the value alone: its first byte begins a line (docs/matcher.md
// says why no other place is listed).
struct PieceForm {
    PieceFamily family;
    std::string_view label_suffix;
};

// A piece is listed only if this many of its characters depend on the value:
// every character of a line and of Base64, the hex digits of a dump, and
// in a text column alone those other than ".".
inline constexpr std::size_t kMinPieceCharacters = 8;

// Pieces are numbered within a value; a value gives at most this many of one
// form, so that a piece's number fits 24 bits.
inline constexpr std::uint32_t kMaxPieces = 1U << 24;

// Every piece form, in order.
std::span<const PieceForm> piece_forms();

// Calls `found(number, piece)` for each piece of the value in that form that
// has kMinPieceCharacters characters depending on the value, in order;
// `scratch` holds each piece while it is handed over.
void for_each_piece(std::string_view value, const PieceForm& form, SecretBytes& scratch,
                    const std::function<void(std::uint32_t, std::string_view)>& found);

// Appends the piece of that number.
void append_piece(SecretBytes& out, std::string_view value, const PieceForm& form,
                  std::uint32_t number);

}  // namespace quillbox
