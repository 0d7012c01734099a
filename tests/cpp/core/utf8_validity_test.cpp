#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace quillbox
