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

std::string html(std::string_view bytes, HtmlEscaper escaper) {
    SecretBytes out;
    append_html_escaped(out, bytes, escaper);
    return std::string(out.view());
}

std::string shell(std::string_view bytes, ShellQuoting quoting) {
    SecretBytes out;
    append_shell_quoted(out, bytes, quoting);
    return std::string(out.view());
}

std::string repr(std::string_view bytes, ReprQuote quote) {
    SecretBytes out;
    append_python_repr(out, bytes, quote);
    return std::string(out.view());
}

std::string hex(std::string_view bytes, HexCase letter_case, char separator = '\0') {
    SecretBytes out;
    append_hex(out, bytes, letter_case, separator);
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

// The kept sets of other languages' encoders, over a value that holds every
// character one of them keeps and another does not.
TEST(Encodings, PercentKeptSetsOfOtherLanguages) {
    const std::string value = "it's \"a\" <b>&c=d+e!*()$,;:/?@#~\\\xC3\xA9\t";
    struct Case {
        PercentStyle style;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // node's encodeURIComponent and jq's @uri.
        {{PercentKept::UnreservedAndMarks, HexCase::Upper, false},
         "it's%20%22a%22%20%3Cb%3E%26c%3Dd%2Be!*()%24%2C%3B%3A%2F%3F%40%23~%5C%C3%A9%09"},
        // Go's url.PathEscape.
        {{PercentKept::PathSegment, HexCase::Upper, false},
         "it%27s%20%22a%22%20%3Cb%3E&c=d+e%21%2A%28%29$%2C%3B:%2F%3F@%23~%5C%C3%A9%09"},
        // Go's url.UserPassword in a URL.
        {{PercentKept::UserInfo, HexCase::Upper, false},
         "it%27s%20%22a%22%20%3Cb%3E&c=d+e%21%2A%28%29$,;%3A%2F%3F%40%23~%5C%C3%A9%09"},
        // The path of a Go url.URL.
        {{PercentKept::Path, HexCase::Upper, false},
         "it%27s%20%22a%22%20%3Cb%3E&c=d+e%21%2A%28%29$,;:/%3F@%23~%5C%C3%A9%09"},
        // PHP's urlencode.
        {{PercentKept::LettersDigitsAndDashDotUnderscore, HexCase::Upper, true},
         "it%27s+%22a%22+%3Cb%3E%26c%3Dd%2Be%21%2A%28%29%24%2C%3B%3A%2F%3F%40%23%7E%5C%C3%A9%09"},
        // Java's URLEncoder.
        {{PercentKept::LettersDigitsAndDashDotUnderscoreStar, HexCase::Lower, true},
         "it%27s+%22a%22+%3cb%3e%26c%3dd%2be%21*%28%29%24%2c%3b%3a%2f%3f%40%23%7e%5c%c3%a9%09"},
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

TEST(Encodings, HtmlSafeJsonAsEncodersWriteIt) {
    // The characters each HTML-safe encoder escapes, U+2028 and a character
    // that shares its lead byte, and one beyond the first plane.
    const std::string value = "<a>&b='c\"\xE2\x80\xA8\xE2\x82\xAC\xF0\x9F\x98\x80/";
    struct Case {
        JsonStyle style;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // Go's encoding/json.
        {{false, HexCase::Lower, false, JsonHtmlEscapes::Tags},
         "\\u003ca\\u003e\\u0026b='c\\\"\\u2028\xE2\x82\xAC\xF0\x9F\x98\x80/"},
        {{true, HexCase::Upper, true, JsonHtmlEscapes::TagsAndApostrophe},
         R"(\u003Ca\u003E\u0026b=\u0027c\"\u2028\u20AC\uD83D\uDE00\/)"},
        // PHP's json_encode with JSON_HEX_TAG | JSON_HEX_AMP | JSON_HEX_APOS.
        {{true, HexCase::Lower, true, JsonHtmlEscapes::PhpTagsAndApostrophe},
         R"(\u003Ca\u003E\u0026b=\u0027c\"\u2028\u20ac\ud83d\ude00\/)"},
        // Gson.
        {{false, HexCase::Lower, false, JsonHtmlEscapes::TagsEqualsAndApostrophe},
         "\\u003ca\\u003e\\u0026b\\u003d\\u0027c\\\"\\u2028\xE2\x82\xAC\xF0\x9F\x98\x80/"},
    };
    for (const Case& c : cases) EXPECT_EQ(json(value, c.style), c.expected);
}

TEST(Encodings, HtmlCharacterReferencesAsEscapersWriteThem) {
    const std::string value = "it's \"a\" <b>&c+d\xC3\xA9";
    const std::vector<std::pair<HtmlEscaper, std::string>> cases = {
        // html.escape(value, quote=False).
        {HtmlEscaper::TextOnly, "it's \"a\" &lt;b&gt;&amp;c+d\xC3\xA9"},
        {HtmlEscaper::DoubleQuoteNamed, "it's &quot;a&quot; &lt;b&gt;&amp;c+d\xC3\xA9"},
        // html.escape(value).
        {HtmlEscaper::HexApostrophe, "it&#x27;s &quot;a&quot; &lt;b&gt;&amp;c+d\xC3\xA9"},
        {HtmlEscaper::DecimalApostrophe, "it&#39;s &quot;a&quot; &lt;b&gt;&amp;c+d\xC3\xA9"},
        {HtmlEscaper::PaddedDecimalApostrophe, "it&#039;s &quot;a&quot; &lt;b&gt;&amp;c+d\xC3\xA9"},
        {HtmlEscaper::NamedApostrophe, "it&apos;s &quot;a&quot; &lt;b&gt;&amp;c+d\xC3\xA9"},
        {HtmlEscaper::DecimalQuotes, "it&#39;s &#34;a&#34; &lt;b&gt;&amp;c+d\xC3\xA9"},
        {HtmlEscaper::DecimalQuotesAndPlus, "it&#39;s &#34;a&#34; &lt;b&gt;&amp;c&#43;d\xC3\xA9"},
    };
    for (const auto& [escaper, expected] : cases) EXPECT_EQ(html(value, escaper), expected);
}

// What the shell tools printed for a word that is the whole value, less the
// quoting around it.
TEST(Encodings, ShellQuotingAsShellsWriteIt) {
    const std::string value = "it's \"a\" <b>&c=d+e!*()$,;:/?@#~\\\xC3\xA9\t\x01\x1B\x7F";
    const std::string printable = "it's \"a\" <b>&c=d+e!*()$,;:/?@#~\\\xC3\xA9[x]{y}^|`%";
    struct Case {
        std::string value;
        ShellQuoting quoting;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // bash -x.
        {value, ShellQuoting::SingleQuoted,
         "it'\\''s \"a\" <b>&c=d+e!*()$,;:/?@#~\\\xC3\xA9\t\x01\x1B\x7F"},
        // shlex.quote.
        {value, ShellQuoting::SingleQuotedWithDoubleQuotedApostrophe,
         "it'\"'\"'s \"a\" <b>&c=d+e!*()$,;:/?@#~\\\xC3\xA9\t\x01\x1B\x7F"},
        // printf %q in the C locale, and in a UTF-8 one.
        {value, ShellQuoting::AnsiC, R"(it\'s "a" <b>&c=d+e!*()$,;:/?@#~\\\303\251\t\001\E\177)"},
        {value, ShellQuoting::AnsiCUtf8,
         "it\\'s \"a\" <b>&c=d+e!*()$,;:/?@#~\\\\\xC3\xA9\\t\\001\\E\\177"},
        // printf %q of a word without control characters, in a UTF-8 locale.
        {printable, ShellQuoting::Backslashed,
         "it\\'s\\ \\\"a\\\"\\ \\<b\\>\\&c=d+e\\!\\*\\(\\)\\$\\,\\;:/\\?@#~\\\\\xC3\xA9"
         "\\[x\\]\\{y\\}\\^\\|\\`%"},
    };
    for (const Case& c : cases) EXPECT_EQ(shell(c.value, c.quoting), c.expected);
}

TEST(Encodings, PythonReprAsPythonWritesIt) {
    // Quotation marks, backslash, controls, DEL, printable and unprintable
    // characters beyond ASCII (no-break space, line separator, a tag
    // character), one beyond the first plane.
    const std::string value =
        "it's \"a\"\\\t\x01\x7F\xC3\xA9\xC2\xA0\xE2\x80\xA8\xF0\x9F\x98\x80\xF3\xA0\x80\x81";
    EXPECT_EQ(repr(value, ReprQuote::Single),
              "it\\'s \"a\"\\\\\\t\\x01\\x7f\xC3\xA9\\xa0\\u2028\xF0\x9F\x98\x80\\U000e0001");
    EXPECT_EQ(repr("it's\\", ReprQuote::Double), "it's\\\\");
    // Bytes that are not UTF-8 stay as they are.
    EXPECT_EQ(repr("\xFF'", ReprQuote::Single), "\xFF\\'");
}

TEST(Encodings, HexWritesHighNibbleFirst) {
    EXPECT_EQ(hex(std::string("\x01\xAB\xF0", 3), HexCase::Lower), "01abf0");
    EXPECT_EQ(hex(std::string("\x01\xAB\xF0", 3), HexCase::Upper), "01ABF0");
    EXPECT_EQ(hex(std::string("\x01\xAB\xF0", 3), HexCase::Lower, ':'), "01:ab:f0");
    EXPECT_EQ(hex("\xAB", HexCase::Upper, ':'), "AB");
    EXPECT_EQ(hex("", HexCase::Upper, ':'), "");
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
