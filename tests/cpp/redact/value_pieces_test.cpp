#include "redact/value_pieces.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace quillbox {
namespace {

using Pieces = std::vector<std::pair<std::uint32_t, std::string>>;

const PieceForm& form_of(PieceFamily family) {
    for (const PieceForm& form : piece_forms()) {
        if (form.family == family) return form;
    }
    throw std::logic_error("no such piece form");
}

Pieces pieces_of(std::string_view value, const PieceForm& form) {
    Pieces pieces;
    SecretBytes scratch;
    for_each_piece(value, form, scratch, [&](std::uint32_t number, std::string_view piece) {
        pieces.emplace_back(number, std::string(piece));
    });
    return pieces;
}

std::string repeated(std::string_view unit, std::size_t times) {
    std::string text;
    for (std::size_t index = 0; index < times; ++index) text += unit;
    return text;
}

struct PieceCase {
    std::string name;
    std::string value;
    PieceFamily family;
    Pieces expected;
};

// Each piece as the program writes the line, numbered by the line it is on;
// the lines too short to list are skipped, not renumbered.
TEST(ValuePieces, EachLineAsProgramsWriteIt) {
    const std::string key = "-----BEGIN K-----\r\nAAAAB3NzaC1yc2E\r\nshort\r\nQUJD REVG\r\n";
    // 60 bytes: the Base64 of 48 bytes and 57 bytes make one full line each.
    const std::string sixty = repeated("0123456789", 6);
    const std::vector<PieceCase> cases = {
        {"lines without their \\r\\n",
         key,
         PieceFamily::Line,
         {{0, "-----BEGIN K-----"}, {1, "AAAAB3NzaC1yc2E"}, {3, "QUJD REVG"}}},
        {"a last line without its ending",
         "first line\nsecond line",
         PieceFamily::Line,
         {{0, "first line"}, {1, "second line"}}},
        {"a value on one line", "one long line", PieceFamily::Line, {}},
        {"base64 at 64 columns",
         sixty,
         PieceFamily::Base64At64Columns,
         {{0, "MDEyMzQ1Njc4OTAxMjM0NTY3ODkwMTIzNDU2Nzg5MDEyMzQ1Njc4OTAxMjM0NTY3"},
          {1, "ODkwMTIzNDU2Nzg5"}}},
        {"base64 at 76 columns",
         sixty,
         PieceFamily::Base64At76Columns,
         {{0, "MDEyMzQ1Njc4OTAxMjM0NTY3ODkwMTIzNDU2Nzg5MDEyMzQ1Njc4OTAxMjM0NTY3ODkwMTIzNDU2"}}},
        {"xxd -p",
         repeated("\x01\xAB", 16) + "xyz",
         PieceFamily::PlainHexLine,
         {{0, repeated("01ab", 15)}, {1, "01ab78797a"}}},
        {"xxd -p, a last line of three bytes",
         repeated("a", 33),
         PieceFamily::PlainHexLine,
         {{0, repeated("61", 30)}}},
        {"xxd",
         "0123456789abcdef\x01\x7F xyz",
         PieceFamily::XxdLine,
         {{0, "3031 3233 3435 3637 3839 6162 6364 6566  0123456789abcdef"},
          {1, "017f 2078 797a                           .. xyz"}}},
        {"the hex column of hexdump -C",
         "0123456789abcdef\x01\x7F xyz",
         PieceFamily::HexdumpHexColumn,
         {{0, "30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66"}, {1, "01 7f 20 78 79 7a"}}},
        {"the text column of hexdump -C",
         "0123456789abcdef\x01\x7F xyz",
         PieceFamily::HexdumpTextColumn,
         {{0, "  |0123456789abcdef|"}}},
        {"a text column of few printable bytes",
         std::string(16, '\x01') + "abc.......",
         PieceFamily::HexdumpTextColumn,
         {}},
        {"od -c",
         std::string("ab\x01\n\t\xC3\xA9 x\\y\x7F\0zzz", 16) + "zzzzzzzz",
         PieceFamily::OdCharacterLine,
         {{0, "   a   b 001  \\n  \\t 303 251       x   \\   y 177  \\0   z   z   z"},
          {1, "   z   z   z   z   z   z   z   z"}}},
        {"a dump's last line of 3 bytes",
         "0123456789abcdefXYZ",
         PieceFamily::XxdLine,
         {{0, "3031 3233 3435 3637 3839 6162 6364 6566  0123456789abcdef"}}},
    };
    for (const PieceCase& c : cases) {
        EXPECT_EQ(pieces_of(c.value, form_of(c.family)), c.expected) << c.name;
    }
}

// A piece is written again from the value and its number alone.
TEST(ValuePieces, EveryPieceIsWrittenAgainByItsNumber) {
    std::string value = "-----BEGIN X-----\r\n";
    for (int line = 0; line < 40; ++line) value += "line " + std::to_string(line * 7919) + "\n";
    value += std::string("\x00\xFF\x80 binary tail", 16);
    for (const PieceForm& form : piece_forms()) {
        const Pieces pieces = pieces_of(value, form);
        EXPECT_FALSE(pieces.empty());
        for (const auto& [number, piece] : pieces) {
            SecretBytes written;
            append_piece(written, value, form, number);
            EXPECT_EQ(written.view(), piece) << "piece " << number;
        }
    }
}

}  // namespace
}  // namespace quillbox
