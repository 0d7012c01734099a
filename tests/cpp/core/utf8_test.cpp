#include "core/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillbox {
namespace {

struct LossyCase {
    std::string input;
    std::string decoded;
};

TEST(Utf8, LossyDecodingWritesOneReplacementPerMaximalInvalidSubpart) {
    const std::string R = "\xEF\xBF\xBD";
    const std::vector<LossyCase> cases = {
        {"plain ascii", "plain ascii"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"a\xFF"
         "b",
         "a" + R + "b"},
        {"\xE2\x82", R},  // truncated three-byte sequence: one subpart
        {"\xE2\x82z", R + "z"},
        {"\xF0\x9F\x98", R},                  // truncated four-byte sequence
        {"\xC0\xAF", R + R},                  // overlong lead bytes are never valid
        {"\xED\xA0\x80", R + R + R},          // a surrogate: the second byte is out of range
        {"\xF4\x90\x80\x80", R + R + R + R},  // above U+10FFFF
        {"\x80\x80", R + R},                  // lone continuation bytes
        {"\xE0\x80\x80", R + R + R},          // overlong three-byte form
    };
    for (const LossyCase& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(decode_utf8_lossy(c.input), c.decoded);
        EXPECT_EQ(is_valid_utf8(c.input), c.input == c.decoded);
    }
}

TEST(Utf8, EncodesEveryLengthClass) {
    std::string out;
    for (char32_t cp : {U'A', U'é', U'€', U'😀'}) append_utf8(out, cp);
    EXPECT_EQ(out, "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace quillbox
