#include "redact/encodings.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillbox {
namespace {

// Each encoder on its own, appending to an empty buffer.
std::string base64(std::string_view bytes, Base64Alphabet alphabet) {
    SecretBytes out;
    append_base64(out, bytes, alphabet);
    return std::string(out.view());
}

std::string percent(std::string_view bytes) {
    SecretBytes out;
    append_percent(out, bytes);
    return std::string(out.view());
}

std::string hex(std::string_view bytes, HexCase letter_case) {
    SecretBytes out;
    append_hex(out, bytes, letter_case);
    return std::string(out.view());
}

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
        EXPECT_EQ(base64(input, Base64Alphabet::Standard), expected);
    }
    EXPECT_EQ(base64("\xFB\xFF", Base64Alphabet::UrlSafe), "-_8=");
    EXPECT_EQ(base64("~~~", Base64Alphabet::UrlSafe), "fn5-");
}

TEST(Encodings, PercentKeepsOnlyLettersAndDigits) {
    EXPECT_EQ(percent("aZ09"), "aZ09");
    EXPECT_EQ(percent("a-b._~ /"), "a%2Db%2E%5F%7E%20%2F");
    EXPECT_EQ(percent(std::string("\0\x7F\x80\xFF", 4)), "%00%7F%80%FF");
}

TEST(Encodings, HexWritesHighNibbleFirst) {
    EXPECT_EQ(hex(std::string("\x01\xAB\xF0", 3), HexCase::Lower), "01abf0");
    EXPECT_EQ(hex(std::string("\x01\xAB\xF0", 3), HexCase::Upper), "01ABF0");
}

TEST(Encodings, FormsFollowOneAnotherInOneBuffer) {
    SecretBytes out("x");
    for (int round = 0; round < 100; ++round) {
        append_percent(out, "a b");
        append_hex(out, "~", HexCase::Upper);
        append_base64(out, "fo", Base64Alphabet::Standard);
    }
    std::string expected = "x";
    for (int round = 0; round < 100; ++round) expected += "a%20b7EZm8=";
    EXPECT_EQ(out.view(), expected);
}

}  // namespace
}  // namespace quillbox
