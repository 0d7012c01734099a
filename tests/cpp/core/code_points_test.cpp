#include "core/code_points.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/utf8.hpp"

namespace quillbox {
namespace {

// The bytes on the heap at exactly their size, so that the sanitizers see any
// read beyond them.
std::vector<char> exact_copy(std::string_view text) {
    return {text.begin(), text.end()};
}

std::u32string reference_code_points(std::string_view valid) {
    std::u32string code_points;
    for (std::size_t offset = 0; offset < valid.size();) {
        const Utf8Step step = decode_utf8_step(valid, offset);
        code_points.push_back(step.code_point);
        offset += step.length;
    }
    return code_points;
}

// Decodes into units of the given width, counted first, and widens them back.
template <typename Unit>
std::u32string decoded_as(std::string_view text) {
    const std::vector<char> bytes = exact_copy(text);
    const std::string_view view(bytes.data(), bytes.size());
    std::vector<Unit> units(count_code_points(view).count);
    decode_code_points(view, std::span<Unit>(units));
    return {units.begin(), units.end()};
}

std::u32string decoded_at_ceiling(std::string_view text) {
    const char32_t ceiling = count_code_points(text).ceiling;
    if (ceiling <= 0xFF) return decoded_as<std::uint8_t>(text);
    if (ceiling <= 0xFFFF) return decoded_as<std::uint16_t>(text);
    return decoded_as<std::uint32_t>(text);
}

TEST(CodePoints, CountsAndDecodesEachClassAtItsWidth) {
    struct Case {
        std::string text;
        char32_t ceiling;
    };
    const std::vector<Case> cases = {
        {"", 0x7F},
        {"plain ascii\n", 0x7F},
        {"caf\xC3\xA9", 0xFF},
        {"\xC2\x80 and \xC3\xBF", 0xFF},  // U+0080 and U+00FF
        {"\xC4\x80", 0xFFFF},             // U+0100, the first beyond one byte
        {"price \xE2\x82\xAC\xEF\xBF\xBD", 0xFFFF},
        {"\xE4\xB8\x80\xE4\xB8\x81", 0xFFFF},
        {"smile \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF", 0x10FFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::u32string expected = reference_code_points(c.text);
        const CodePointCount count = count_code_points(c.text);
        EXPECT_EQ(count.count, expected.size());
        EXPECT_EQ(count.ceiling, c.ceiling);
        EXPECT_EQ(decoded_at_ceiling(c.text), expected);
        EXPECT_EQ(decoded_as<std::uint32_t>(c.text), expected);
    }
}

// Runs of ASCII and of each class, at every offset from the start, so that
// sequences straddle every boundary of the blocks a text is taken in.
TEST(CodePoints, DecodesSequencesAcrossEveryBlockBoundary) {
    const std::vector<std::string> mixes = {
        "\xC3\xA9\xC3\xA0z\xC3\xBF",
        "\xC3\xA9\xE2\x82\xAC\xE4\xB8\x80\xC4\x80",
        // Runs of three-byte code points, as in CJK text.
        "\xE4\xB8\x80\xE4\xB8\x81\xE4\xB8\x83\xE4\xB8\x87\xE4\xB8\x88\xE4\xB8\x89"
        "\xE4\xB8\x8A\xEF\xBC\x8C",
        "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
    };
    for (const std::string& mix : mixes) {
        for (std::size_t offset = 0; offset < 48; ++offset) {
            std::string text(offset, 'a');
            for (int repeat = 0; repeat < 12; ++repeat) text += mix + std::string(repeat, 'b');
            SCOPED_TRACE(text);
            EXPECT_EQ(decoded_at_ceiling(text), reference_code_points(text));
        }
    }
}

// What only text that is not valid UTF-8 holds still gives exactly one unit
// for each byte that is not a continuation byte, and is read no further than
// its end.
TEST(CodePoints, DecodesAnyBytesWithinBothBuffers) {
    const std::vector<std::string> faulty = {
        "\x80",
        "abc\xBF\xBF",
        "\xE2\x82",
        "ab\xF0\x9F\x98",
        "\xFF\xFE\xC0\xAF",
        std::string(40, 'a') + "\xE2",
        std::string(33, '\xC3'),
    };
    for (const std::string& text : faulty) {
        SCOPED_TRACE(text);
        std::size_t non_continuation = 0;
        for (const char byte : text) non_continuation += (byte & 0xC0) != 0x80 ? 1 : 0;
        EXPECT_EQ(count_code_points(text).count, non_continuation);
        // One more unit than the count, which must stay as it was.
        const std::vector<char> bytes = exact_copy(text);
        std::vector<std::uint16_t> units(non_continuation + 1, 0xAAAA);
        decode_code_points(std::string_view(bytes.data(), bytes.size()),
                           std::span(units).first(non_continuation));
        EXPECT_EQ(std::count(units.begin(), units.end(), 0xAAAA), 1);
        EXPECT_EQ(units.back(), 0xAAAA);
    }
}

}  // namespace
}  // namespace quillbox
