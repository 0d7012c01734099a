#include "redact/encodings.hpp"

#include <gtest/gtest.h>

#include <random>
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

std::string percent(std::string_view bytes, PercentStyle style) {
    SecretBytes out;
    append_percent(out, bytes, style);
    return std::string(out.view());
}

std::string json(std::string_view bytes, JsonStyle style) {
    SecretBytes out;
    append_json_string(out, bytes, style);
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

// A run is what every Base64 text holding the bytes at that alignment holds,
// whatever surrounds them: the digits that lie wholly within the bytes.
TEST(Encodings, Base64RunIsWhatAnySurroundingTextKeeps) {
    std::mt19937 random(20261210);
    const auto random_bytes = [&](std::size_t length) {
        std::string bytes(length, '\0');
        for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
        return bytes;
    };
    for (int round = 0; round < 300; ++round) {
        const std::string value = random_bytes(1 + random() % 20);
        for (const std::size_t offset : {0, 1, 2}) {
            for (const Base64Alphabet alphabet :
                 {Base64Alphabet::Standard, Base64Alphabet::UrlSafe}) {
                SecretBytes run;
                append_base64_run(run, value, alphabet, offset);
                for (int context = 0; context < 4; ++context) {
                    const std::size_t groups_before = random() % 3;
                    const std::string text = random_bytes(offset + 3 * groups_before) + value +
                                             random_bytes(random() % 4);
                    // The first digit that starts within the value.
                    const std::size_t first = 4 * groups_before + (8 * offset + 5) / 6;
                    EXPECT_EQ(base64(text, alphabet).substr(first, run.size()), run.view())
                        << "offset " << offset << " round " << round;
                }
                // Up to the last digit that ends within the value.
                const std::size_t end = (8 * offset + 8 * value.size()) / 6;
                const std::size_t first = (8 * offset + 5) / 6;
                EXPECT_EQ(run.size(), end > first ? end - first : 0);
            }
        }
    }
    SecretBytes run;
    append_base64_run(run, "user:abc", Base64Alphabet::Standard, 1);
    // "xuser:abc" is eHVzZXI6YWJj; the first two digits hold bits of "x".
    EXPECT_EQ(run.view(), "VzZXI6YWJj");
}

TEST(Encodings, PercentStylesAsEncodersWriteThem) {
    const std::string value = "p@ss w/rd-._~+\xC3\xA9";
    struct Case {
        PercentStyle style;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{}, "p%40ss%20w%2Frd%2D%2E%5F%7E%2B%C3%A9"},
        // urllib.parse.quote(value, safe="") and curl --data-urlencode.
        {{PercentKept::Unreserved, HexCase::Upper, false}, "p%40ss%20w%2Frd-._~%2B%C3%A9"},
        // urllib.parse.quote(value), which keeps "/".
        {{PercentKept::UnreservedAndSlash, HexCase::Upper, false}, "p%40ss%20w/rd-._~%2B%C3%A9"},
        // urllib.parse.quote_plus(value).
        {{PercentKept::Unreserved, HexCase::Upper, true}, "p%40ss+w%2Frd-._~%2B%C3%A9"},
        {{PercentKept::LettersAndDigits, HexCase::Lower, true},
         "p%40ss+w%2frd%2d%2e%5f%7e%2b%c3%a9"},
    };
    for (const Case& c : cases) EXPECT_EQ(percent(value, c.style), c.expected);
}

TEST(Encodings, JsonStringsAsEncodersWriteThem) {
    // Quotation mark, backslash, slash, control characters, DEL, a Latin
    // letter and a character beyond the first plane.
    const std::string value = "a\"b\\c/d\x01\x7F\t\xC3\xA9\xF0\x9F\x98\x80";
    struct Case {
        JsonStyle style;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // json.dumps(value).
        {{}, R"(a\"b\\c/d\u0001\u007f\t\u00e9\ud83d\ude00)"},
        // json.dumps(value, ensure_ascii=False).
        {{false, HexCase::Lower, false}, "a\\\"b\\\\c/d\\u0001\x7F\\t\xC3\xA9\xF0\x9F\x98\x80"},
        {{true, HexCase::Upper, true}, R"(a\"b\\c\/d\u0001\u007F\t\u00E9\uD83D\uDE00)"},
    };
    for (const Case& c : cases) EXPECT_EQ(json(value, c.style), c.expected);
    // Bytes that are not UTF-8 stay as they are.
    EXPECT_EQ(json("\xFF\n", {}), "\xFF\\n");
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
