#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/utf8.hpp"

namespace quillbox {
namespace {

// ASCII is checked a word at a time: faults must be found at every position
// relative to the word boundaries, and sequences may straddle them.
TEST(Utf8Validity, FindsFaultsAtEveryPositionAroundWordBoundaries) {
    EXPECT_TRUE(is_valid_utf8(""));
    for (std::size_t length = 1; length <= 18; ++length) {
        const std::string ascii(length, 'a');
        EXPECT_TRUE(is_valid_utf8(ascii));
        for (std::size_t position = 0; position < length; ++position) {
            std::string faulty = ascii;
            faulty[position] = '\xFF';
            EXPECT_FALSE(is_valid_utf8(faulty)) << length << " " << position;
            if (position + 1 < length) {
                std::string two_bytes = ascii;
                two_bytes.replace(position, 2, "\xC3\xA9");
                EXPECT_TRUE(is_valid_utf8(two_bytes)) << length << " " << position;
            }
        }
    }
    EXPECT_FALSE(is_valid_utf8("abcdefg\xC3"));
}

// The definition: every step of the decoding is a valid one.
bool valid_step_by_step(std::string_view bytes) {
    for (std::size_t offset = 0; offset < bytes.size();) {
        const Utf8Step step = decode_utf8_step(bytes, offset);
        if (!step.valid) return false;
        offset += step.length;
    }
    return true;
}

// Text is checked in blocks of 16 and 64 bytes, each byte against the three
// before it: every sequence of up to four bytes, set where it straddles a
// block's boundary or ends the text, is judged as the decoding judges it.
TEST(Utf8Validity, JudgesEverySequenceAsTheDecodingDoes) {
    std::vector<std::string> sequences;
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            sequences.push_back({static_cast<char>(first), static_cast<char>(second)});
        }
    }
    // After a lead, every second byte where a continuation may be, and for
    // the bytes after those, the edges of the ranges that the leads allow.
    const std::vector<int> edges = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                    0xC0, 0xC2, 0xE0, 0xED, 0xF0, 0xF4, 0xF5, 0xFF};
    for (int first = 0xC0; first < 256; ++first) {
        for (int second = 0x7F; second <= 0xC0; ++second) {
            for (const int third : edges) {
                sequences.push_back({static_cast<char>(first), static_cast<char>(second),
                                     static_cast<char>(third)});
            }
        }
    }
    for (int first = 0xE0; first < 256; ++first) {
        for (const int second : edges) {
            for (const int third : edges) {
                for (const int fourth : edges) {
                    sequences.push_back({static_cast<char>(first), static_cast<char>(second),
                                         static_cast<char>(third), static_cast<char>(fourth)});
                }
            }
        }
    }
    // Before the sequence, ASCII or a two-byte character; after it, nothing
    // or ASCII, in the same block or the next.
    const std::string before_ascii(14, 'a');
    const std::string before_pair = std::string(60, 'a') + "\xC3\xA9";
    for (const std::string& sequence : sequences) {
        for (const std::string& text :
             {sequence, before_ascii + sequence, before_pair + sequence,
              before_ascii + sequence + "b", before_pair + sequence + std::string(70, 'b')}) {
            ASSERT_EQ(is_valid_utf8(text), valid_step_by_step(text))
                << ::testing::PrintToString(text);
        }
    }
}

}  // namespace
}  // namespace quillbox
