#include "redact/encodings.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillbox {
namespace {

TEST(Encodings, Base64PadsAndUsesTheChosenAlphabet) {
    const std::vector<std::pair<std::string, std::string>> standard = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF", "+/8="},
    };
    for (const auto& [input, expected] : standard) {
        EXPECT_EQ(encode_base64(input, Base64Alphabet::Standard).view(), expected);
    }
    EXPECT_EQ(encode_base64("\xFB\xFF", Base64Alphabet::UrlSafe).view(), "-_8=");
    EXPECT_EQ(encode_base64("~~~", Base64Alphabet::UrlSafe).view(), "fn5-");
}

TEST(Encodings, PercentKeepsOnlyLettersAndDigits) {
    EXPECT_EQ(encode_percent("aZ09").view(), "aZ09");
    EXPECT_EQ(encode_percent("a-b._~ /").view(), "a%2Db%2E%5F%7E%20%2F");
    EXPECT_EQ(encode_percent(std::string("\0\x7F\x80\xFF", 4)).view(), "%00%7F%80%FF");
}

TEST(Encodings, HexWritesHighNibbleFirst) {
    EXPECT_EQ(encode_hex(std::string("\x01\xAB\xF0", 3), HexCase::Lower).view(), "01abf0");
    EXPECT_EQ(encode_hex(std::string("\x01\xAB\xF0", 3), HexCase::Upper).view(), "01ABF0");
}

}  // namespace
}  // namespace quillbox
