#include "redact/secret_patterns.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "redact/secret_forms.hpp"

namespace quillbox {
namespace {

std::vector<std::string> labels_of(const SecretPatterns& patterns) {
    std::vector<std::string> labels;
    for (std::size_t index = 0; index < patterns.size(); ++index) {
        labels.emplace_back(patterns.label(index));
    }
    return labels;
}

// The standard forms of every value come first, in entry order, so that they
// keep winning at the same start; the encoders' forms of the long values
// follow, none of them a repeat of a pattern the same value gave. A standard
// form that repeats one of its label is left out: the percent-encoding that
// keeps "-._~" where the value holds none of them, upper-case hex where the
// hex has no letter.
TEST(SecretPatterns, StandardFormsOfEveryValueComeFirst) {
    SecretList secrets;
    secrets.push_back({"LONG", SecretBytes(std::string_view("p@ss w/rd"))});
    secrets.push_back({"SHORT", SecretBytes(std::string_view("abc"))});
    secrets.push_back({"EMPTY", SecretBytes()});
    secrets.push_back({"DASHED", SecretBytes(std::string_view("a-b c"))});
    const SecretPatterns patterns = list_secret_patterns(secrets);
    const std::vector<std::string> labels = labels_of(patterns);

    const std::vector<std::string> standard = {
        "[REDACTED_LONG]",          "[REDACTED_LONG_B64]",   "[REDACTED_LONG_B64URL]",
        "[REDACTED_LONG_URL]",      "[REDACTED_LONG_HEX]",   "[REDACTED_LONG_HEX]",
        "[REDACTED_SHORT]",         "[REDACTED_SHORT_B64]",  "[REDACTED_SHORT_B64URL]",
        "[REDACTED_SHORT_HEX]",     "[REDACTED_DASHED]",     "[REDACTED_DASHED_B64]",
        "[REDACTED_DASHED_B64URL]", "[REDACTED_DASHED_URL]", "[REDACTED_DASHED_URL]",
        "[REDACTED_DASHED_HEX]",    "[REDACTED_DASHED_HEX]",
    };
    ASSERT_GT(labels.size(), standard.size());
    EXPECT_EQ(std::vector(labels.begin(), labels.begin() + standard.size()), standard);

    const std::set<std::string> encoder_labels = {"[REDACTED_LONG_B64]",   "[REDACTED_LONG_B64URL]",
                                                  "[REDACTED_LONG_URL]",   "[REDACTED_LONG_HEX]",
                                                  "[REDACTED_LONG_JSON]",  "[REDACTED_LONG_HTML]",
                                                  "[REDACTED_LONG_SHELL]", "[REDACTED_LONG_REPR]"};
    // Standard forms may repeat one another (Base64 without "+" and "/" is
    // its URL-safe form too); an encoder's form repeats none.
    std::set<std::string_view> seen;
    for (std::size_t index = 0; index < patterns.size(); ++index) {
        if (!labels[index].starts_with("[REDACTED_LONG")) continue;
        const bool added = seen.insert(patterns.head(index)).second;
        if (index >= standard.size()) {
            EXPECT_TRUE(added) << patterns.head(index);
            EXPECT_TRUE(encoder_labels.contains(labels[index])) << labels[index];
        }
    }
    // "/" escaped for JSON; quote_plus; quote, which keeps "/".
    for (const std::string_view expected : {"p@ss w\\/rd", "p%40ss+w%2Frd", "p%40ss%20w/rd"}) {
        EXPECT_TRUE(seen.contains(expected)) << expected;
    }
    // Both percent forms of the short value, however short.
    const std::vector<std::string_view> heads = patterns.heads(kMaxHeadBytes);
    for (const std::string_view expected : {"a%2Db%20c", "a-b%20c"}) {
        EXPECT_NE(std::ranges::find(heads, expected), heads.end()) << expected;
    }
}

// Only the distinct forms are listed, yet every form that any encoder writes
// is found: each is the value itself or one of its patterns.
TEST(SecretPatterns, EveryEncoderFormIsListedOnce) {
    std::vector<std::string> values = {
        "plainToken12345",          "tok-en_with.dots~",
        "p@ss w/rd+more",           "it's \"quoted\" <b>&c=d!*()$,;:?#\\",
        "tab\tnl\nctl\x01\x7F end", "caf\xC3\xA9 \xE2\x80\xA8 \xF0\x9F\x98\x80 \xC2\xA0'",
        "bad\xFF\xC3utf8 <&>",
    };
    // And values drawn from every ASCII character, characters beyond ASCII
    // that the encoders treat apart, and bytes that are not UTF-8.
    std::vector<std::string> pieces = {"\xC3\xA9",         "\xE2\x82\xAC", "\xE2\x80\xA9",
                                       "\xF0\x9F\x98\x80", "\xC2\x85",     "\xFF",
                                       "\xE2\x82"};
    for (int byte = 0; byte < 0x80; ++byte) pieces.emplace_back(1, static_cast<char>(byte));
    std::mt19937 random(20261211);
    for (int round = 0; round < 300; ++round) {
        std::string value;
        while (value.size() < 8 + random() % 12) value += pieces[random() % pieces.size()];
        values.push_back(value);
    }
    const std::span<const SecretForm> forms = secret_forms();
    for (const std::string& value : values) {
        SecretList secrets;
        secrets.push_back({"V", SecretBytes(std::string_view(value))});
        const SecretPatterns patterns = list_secret_patterns(secrets);
        std::set<std::string_view> listed;
        for (std::size_t index = 0; index < patterns.size(); ++index) {
            const bool added = listed.insert(patterns.head(index)).second;
            if (index >= kFirstEncoderForm) EXPECT_TRUE(added) << patterns.head(index);
        }
        for (std::size_t form = kFirstEncoderForm; form < forms.size(); ++form) {
            SecretBytes written;
            append_form(written, value, forms[form].encoding);
            EXPECT_TRUE(written.view().empty() || listed.contains(written.view()))
                << "form " << form << " of " << value;
        }
    }
}

// A value over several lines gives each of its lines, the lines of its
// wrapped Base64 and of its dumps, each once and after the value's other
// forms, and every pattern is written again from its source alone.
TEST(SecretPatterns, PiecesOfAValueOverSeveralLinesFollowItsForms) {
    std::string key = "-----BEGIN KEY-----\r\n";
    for (int line = 0; line < 6; ++line) key += "QUFBQUIzTnphQzFs" + std::to_string(line) + "\r\n";
    key += "QUFBQUIzTnphQzFs0\r\n-----END KEY-----\r\n";
    SecretList secrets;
    secrets.push_back({"KEY", SecretBytes(std::string_view(key))});
    secrets.push_back({"TOKEN", SecretBytes(std::string_view("plainToken12345"))});
    const SecretPatterns patterns = list_secret_patterns(secrets);
    const std::vector<std::string> labels = labels_of(patterns);

    std::set<std::string_view> lines;
    std::set<std::string> piece_labels;
    bool pieces_begun = false;
    for (std::size_t index = 0; index < patterns.size(); ++index) {
        const PatternSource source = patterns.source(index);
        SecretBytes written;
        append_secret_pattern(written, numbered_secret(secrets, {}, source.secret).value.view(),
                              source);
        EXPECT_EQ(written.view(), patterns.head(index)) << labels[index];
        const bool piece = source.form >= secret_forms().size();
        EXPECT_TRUE(piece || !pieces_begun || source.secret != 0) << labels[index];
        pieces_begun = pieces_begun || piece;
        if (!piece) continue;
        piece_labels.insert(labels[index]);
        if (labels[index] == "[REDACTED_KEY_LINE]") lines.insert(patterns.head(index));
    }
    // A value on one line shows in the hex columns of dumps only: its other
    // pieces are its patterns already.
    EXPECT_EQ(piece_labels, (std::set<std::string>{"[REDACTED_KEY_LINE]", "[REDACTED_KEY_B64]",
                                                   "[REDACTED_KEY_HEX]", "[REDACTED_TOKEN_HEX]"}));
    // The repeated line is listed once, and no line keeps its "\r".
    EXPECT_EQ(lines, (std::set<std::string_view>{"-----BEGIN KEY-----", "QUFBQUIzTnphQzFs0",
                                                 "QUFBQUIzTnphQzFs1", "QUFBQUIzTnphQzFs2",
                                                 "QUFBQUIzTnphQzFs3", "QUFBQUIzTnphQzFs4",
                                                 "QUFBQUIzTnphQzFs5", "-----END KEY-----"}));
    EXPECT_EQ(std::count(labels.begin(), labels.end(), "[REDACTED_KEY_LINE]"), 8);
}

}  // namespace
}  // namespace quillbox
