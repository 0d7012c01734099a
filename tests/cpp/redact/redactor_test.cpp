#include "redact/redactor.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/core_error_printer.hpp"
#include "support/fake_clock.hpp"
#include "support/leftmost_first.hpp"

namespace quillbox {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

SecretList secret_list(const Entries& entries) {
    SecretList secrets;
    for (const auto& [name, value] : entries) secrets.push_back({name, SecretBytes(value)});
    return secrets;
}

std::string hex_of(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char ch : bytes) {
        out += kDigits[static_cast<std::uint8_t>(ch) >> 4];
        out += kDigits[static_cast<std::uint8_t>(ch) & 15];
    }
    return out;
}

// Redacts both ways: from a view into a new buffer, and within a buffer handed
// over, which must come to the same.
std::string redact_with(const Entries& entries, std::string_view text) {
    const Result<Redactor> redactor = build_redactor(secret_list(entries));
    if (!redactor) throw std::runtime_error(redactor.error().to_text());
    std::string from_view = redactor->redact(text);
    EXPECT_EQ(redactor->redact(SecretBytes(text)).view(), from_view) << "input " << text;
    return from_view;
}

TEST(Redactor, ReplacesEveryFormByItsLabel) {
    struct Case {
        Entries entries;
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{{"K", "a b"}}, "x a b y", "x [REDACTED_K] y"},
        {{{"K", "a b"}}, "YSBi", "[REDACTED_K_B64]"},
        {{{"K", "a b"}}, "a%20b", "[REDACTED_K_URL]"},
        {{{"K", "a b"}}, "612062", "[REDACTED_K_HEX]"},
        {{{"K", "~~~"}}, "fn5+", "[REDACTED_K_B64]"},
        {{{"K", "~~~"}}, "fn5-", "[REDACTED_K_B64URL]"},
        {{{"K", "~~~"}}, "%7E%7E%7E", "[REDACTED_K_URL]"},
        {{{"K", "~~~"}}, "7e7e7e 7E7E7E", "[REDACTED_K_HEX] [REDACTED_K_HEX]"},
        // The base64 text equals the base64url text; the base64 pattern came first.
        {{{"K", "abc"}}, "abc YWJj 616263", "[REDACTED_K] [REDACTED_K_B64] [REDACTED_K_HEX]"},
        // Leftmost-first: at the same start the entry stored first wins.
        {{{"A", "abc"}, {"B", "abcdef"}}, "abcdef", "[REDACTED_A]def"},
        {{{"B", "abcdef"}, {"A", "abc"}}, "abcdef", "[REDACTED_B]"},
        {{{"FIRST", "same"}, {"SECOND", "same"}}, "the same", "the [REDACTED_FIRST]"},
        {{{"K", "x"}}, "xoxo", "[REDACTED_K]o[REDACTED_K]o"},
        {{{"K", "SECRET"}}, "secret Secret", "secret Secret"},
        {{{"K", "aa"}}, "aaa", "[REDACTED_K]a"},
        // The name is used exactly as stored.
        {{{"Db_Pass", "hunter2"}}, "pw=hunter2", "pw=[REDACTED_Db_Pass]"},
        // Empty values give no pattern; other entries still do.
        {{{"EMPTY", ""}, {"K", "tok"}}, "a tok b", "a [REDACTED_K] b"},
        {{{"EMPTY", ""}}, "nothing to hide", "nothing to hide"},
        {{}, "nothing to hide", "nothing to hide"},
        // A value that is not UTF-8 is still found in its encoded forms.
        {{{"K", "\xFF\xFE"}},
         "//4= __4= %FF%FE fffe FFFE",
         "[REDACTED_K_B64] [REDACTED_K_B64URL] [REDACTED_K_URL] [REDACTED_K_HEX] [REDACTED_K_HEX]"},
        // ... and in raw form: output is matched before it is decoded, so no
        // valid part of such a secret is left in sight.
        {{{"K", "hunter2\xFF"}}, "pw=hunter2\xFF!", "pw=[REDACTED_K]!"},
        // Invalid bytes that are no secret's become U+FFFD, with or without secrets.
        {{{"K", "tok"}}, "tok\xFF", "[REDACTED_K]\xEF\xBF\xBD"},
        {{}, "bad\xFF", "bad\xEF\xBF\xBD"},
        // Labels shorter than their secrets leave room for a longer one later;
        // once it runs out, the rest goes to a new buffer.
        {{{"LONG", "0123456789abcdefghijklmnopqrstuv"}, {"X", "xy"}},
         "0123456789abcdefghijklmnopqrstuv:xy:xy:end",
         "[REDACTED_LONG]:[REDACTED_X]:[REDACTED_X]:end"},
        // Labels are not scanned again.
        {{{"K", "RED"}}, "RED", "[REDACTED_K]"},
        // A match ending inside a multi-byte character leaves its remaining
        // byte behind, which decodes as U+FFFD.
        {{{"K", "a\xC3"}}, "xa\xC3\xA9y", "x[REDACTED_K]\xEF\xBF\xBDy"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(redact_with(c.entries, c.input), c.expected) << "input " << c.input;
    }
}

// The redaction of a text made of "a", "b", "-" and the invalid byte 0xFF
// alone, worked out from the raw values. Every other form of a value made of
// those bytes is either the value itself or holds a byte that such a text
// does not: hex a digit, percent-encoding "%", and Base64 a character that the
// high or low six bits of these bytes give. So only raw values match, leftmost
// first, and every 0xFF outside them becomes U+FFFD.
std::string redacted_by_raw_values(const Entries& entries, std::string_view text) {
    std::vector<std::string> values;
    for (const auto& [name, value] : entries) values.push_back(value);
    const auto find = [&](std::string_view haystack, std::size_t from) {
        return testing::leftmost_first_find(values, haystack, from);
    };
    std::string redacted;
    const auto keep = [&](std::string_view unmatched) {
        for (const char byte : unmatched) {
            if (byte == '\xFF') {
                redacted += "\xEF\xBF\xBD";
            } else {
                redacted += byte;
            }
        }
    };
    std::size_t kept_to = 0;
    for (const testing::LeftmostFirstMatch& match : testing::all_matches(find, text)) {
        keep(text.substr(kept_to, match.start - kept_to));
        redacted += "[REDACTED_" + entries[match.pattern].first + "]";
        kept_to = match.end;
    }
    keep(text.substr(kept_to));
    return redacted;
}

// Secrets of every length, in texts made of them: within the buffer handed
// over, labels sometimes fit in what they replace and sometimes do not.
TEST(Redactor, RedactsWithinTheBufferAsIntoANewOne) {
    std::mt19937 random(20261210);
    const auto pick = [&](std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(random);
    };
    const auto random_string = [&](std::size_t min_length, std::size_t max_length) {
        std::string text(pick(min_length, max_length), ' ');
        for (char& c : text) c = "ab-\xFF"[pick(0, 3)];
        return text;
    };
    for (int round = 0; round < 500; ++round) {
        Entries entries(pick(1, 4));
        for (auto& [name, value] : entries) {
            name = "K" + std::to_string(pick(0, 9));
            value = random_string(1, 40);
        }
        std::string text;
        const std::size_t length = pick(0, 300);
        while (text.size() < length) {
            text +=
                pick(0, 1) == 0 ? entries[pick(0, entries.size() - 1)].second : random_string(1, 6);
        }
        EXPECT_EQ(redact_with(entries, text), redacted_by_raw_values(entries, text))
            << "input " << text;
    }
}

TEST(Redactor, FindsSecretsAsEncodersWriteThem) {
    const Entries entries = {{"K", "p@ss w/rd"},
                             {"J", "p\"ss w/rd"},
                             {"SHORT", "p@ss w/"},
                             {"EIGHT", "p@ss w/r"},
                             {"SIGNS", "p?ss>w~rd"}};
    struct Case {
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // HTTP Basic credentials "u:" + K put K two bytes into a Base64 group;
        // the digits that also hold bits of "u:" or of the padding stay.
        {"Basic dTpwQHNzIHcvcmQ=", "Basic dTp[REDACTED_K_B64]Q="},
        // Three bytes before it keep the alignment of the padded form.
        {"Basic YWI6cEBzcyB3L3Jk", "Basic YWI6[REDACTED_K_B64]"},
        // K and a line feed.
        {"cEBzcyB3L3JkCg==", "[REDACTED_K_B64]Cg=="},
        // URL-safe and unpadded, one byte into a group: the same as Base64
        // here, where neither "+" nor "/" is written ...
        {"eHBAc3Mgdy9yZA", "eH[REDACTED_K_B64]A"},
        // ... and its own where "-" and "_" are.
        {"eHA_c3M-d35yZCE", "eH[REDACTED_SIGNS_B64URL]CE"},
        // quote_plus, quote (which keeps "/"), lower-case hex.
        {"p%40ss+w%2Frd p%40ss%20w/rd p%40ss%20w%2frd",
         "[REDACTED_K_URL] [REDACTED_K_URL] [REDACTED_K_URL]"},
        {R"({"password": "p\"ss w\/rd"})", R"({"password": "[REDACTED_J_JSON]"})"},
        // A value of eight bytes is looked for as encoders write it; one of
        // seven only in the standard forms.
        {"p%40ss+w%2Fr", "[REDACTED_EIGHT_URL]"},
        {"dXBAc3Mgdy9yISE=", "dX[REDACTED_EIGHT_B64]ISE="},
        {"p%40ss+w%2F", "p%40ss+w%2F"},
        {"dXBAc3Mgdy8hIQ==", "dXBAc3Mgdy8hIQ=="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(redact_with(entries, c.input), c.expected) << "input " << c.input;
    }
    // At the same start a standard form wins over an encoder's: the padded
    // Base64 of "p@ss w/r" is taken whole, not its unpadded run.
    EXPECT_EQ(redact_with({{"K", "p@ss w/r"}}, "cEBzcyB3L3I="), "[REDACTED_K_B64]");
}

// What `{{url:KEY}}` puts into a URL is found for a value of any length:
// every byte but letters, digits and "-._~" as "%XX" in upper case.
TEST(Redactor, FindsAValueAsAUrlPlaceholderWritesIt) {
    struct Case {
        std::string value;
        std::string encoded;
    };
    const std::vector<Case> cases = {
        {"a-b@c", "a-b%40c"},
        {"~:/#%&", "~%3A%2F%23%25%26"},
        {"_.\xC3\xA9", "_.%C3%A9"},
        {std::string("x.\0y", 4), "x.%00y"},
        {"-\xFF", "-%FF"},
        {"p\xC3\xA4ss-w\xC3\xB6rd@:/#%&~ x", "p%C3%A4ss-w%C3%B6rd%40%3A%2F%23%25%26~%20x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(redact_with({{"PW", c.value}}, "https://u:" + c.encoded + "@h/?q=" + c.encoded),
                  "https://u:[REDACTED_PW_URL]@h/?q=[REDACTED_PW_URL]")
            << "input " << c.encoded;
    }
}

// A text we cut may end in the start of a secret form: four bytes or more of
// it are labelled, fewer are not, and a text that ended by itself is left
// as it is.
TEST(Redactor, LabelsTheStartOfASecretThatACutLeaves) {
    struct Case {
        std::string input;
        std::string cut;
        std::string whole;
    };
    const Entries entries = {{"TOKEN", "ghp_R2d2C3poBb8x"}, {"A_RATHER_LONG_NAME", "0123456789"}};
    const std::vector<Case> cases = {
        {"token: ghp_R2d2C3poBb", "token: [REDACTED_TOKEN]", "token: ghp_R2d2C3poBb"},
        {"token: ghp_", "token: [REDACTED_TOKEN]", "token: ghp_"},
        {"token: ghp", "token: ghp", "token: ghp"},
        // The start of an encoded form.
        {"Z2hwX1Iy", "[REDACTED_TOKEN_B64]", "Z2hwX1Iy"},
        // After a match.
        {"ghp_R2d2C3poBb8x,ghp_R2d2", "[REDACTED_TOKEN],[REDACTED_TOKEN]",
         "[REDACTED_TOKEN],ghp_R2d2"},
        // A label longer than the text it ends.
        {"01234", "[REDACTED_A_RATHER_LONG_NAME]", "01234"},
    };
    const Result<Redactor> redactor = build_redactor(secret_list(entries));
    ASSERT_TRUE(redactor.has_value());
    for (const Case& c : cases) {
        EXPECT_EQ(redactor->redact(SecretBytes(c.input), TextEnd::Cut).view(), c.cut) << c.input;
        EXPECT_EQ(redactor->redact(SecretBytes(c.input), TextEnd::Whole).view(), c.whole)
            << c.input;
        // With room to spare, the label is written in place.
        SecretBytes roomy(c.input);
        roomy.reserve(256);
        EXPECT_EQ(redactor->redact(std::move(roomy), TextEnd::Cut).view(), c.cut) << c.input;
    }
}

// Patterns longer than kMaxHeadBytes are found by their head and checked whole
// where it is found, with the same results as if the matcher held them whole.
TEST(Redactor, FindsLongSecretsWholeByTheirHead) {
    const std::string header = "-----BEGIN CERTIFICATE-----\n";
    std::string bundle = header;
    std::string other = header;
    for (int line = 0; bundle.size() < 3 * kMaxHeadBytes; ++line) {
        bundle += "MIIF" + std::to_string(line * 7919) + "Qb3Rs0kLmN\n";
        // The other bundle has the same first two heads' worth of bytes.
        other += bundle.size() < 2 * kMaxHeadBytes ? bundle.substr(other.size()) : "Zz9\n";
    }
    ASSERT_GT(other.size(), 2 * kMaxHeadBytes);
    const Entries entries = {{"CA", bundle}, {"OTHER_CA", other}};
    const Result<Redactor> redactor = build_redactor(secret_list(entries));
    ASSERT_TRUE(redactor.has_value());

    struct Case {
        std::string input;
        std::string whole;
        std::string cut;
    };
    const std::string most_of_bundle = bundle.substr(0, bundle.size() - 1);
    // Each line that ends in "\n" as the bundle's line label; a last line
    // without its ending stays.
    const auto lines_redacted = [](std::string_view text) {
        std::string redacted;
        for (std::size_t end = text.find('\n'); end != std::string_view::npos;
             text.remove_prefix(end + 1), end = text.find('\n')) {
            redacted += "[REDACTED_CA_LINE]\n";
        }
        return redacted + std::string(text);
    };
    const std::string redacted_bundle = lines_redacted(bundle);
    const std::string redacted_most = redacted_bundle.substr(0, redacted_bundle.size() - 1);
    const std::string first_heads = most_of_bundle.substr(0, 2 * kMaxHeadBytes);
    const std::vector<Case> cases = {
        {"a " + bundle + " b", "a [REDACTED_CA] b", "a [REDACTED_CA] b"},
        {"a " + other + " b", "a [REDACTED_OTHER_CA] b", "a [REDACTED_OTHER_CA] b"},
        {other + bundle, "[REDACTED_OTHER_CA][REDACTED_CA]", "[REDACTED_OTHER_CA][REDACTED_CA]"},
        // All of the bundle but its last byte is no match of the whole, yet
        // each of its lines is, the last one too.
        {"x" + most_of_bundle, "x" + redacted_most, "x" + redacted_most},
        {most_of_bundle + "!", redacted_most + "!", redacted_most + "!"},
        // A whole secret after the start of one that the text ends inside.
        {first_heads + "hunter22", lines_redacted(first_heads) + "[REDACTED_SHORT]",
         lines_redacted(first_heads) + "[REDACTED_SHORT]"},
    };
    const Entries with_short = {{"CA", bundle}, {"OTHER_CA", other}, {"SHORT", "hunter22"}};
    const Result<Redactor> with_short_redactor = build_redactor(secret_list(with_short));
    ASSERT_TRUE(with_short_redactor.has_value());
    for (const Case& c : cases) {
        EXPECT_EQ(with_short_redactor->redact(SecretBytes(c.input), TextEnd::Whole).view(),
                  c.whole);
        EXPECT_EQ(with_short_redactor->redact(SecretBytes(c.input), TextEnd::Cut).view(), c.cut);
        EXPECT_EQ(with_short_redactor->redact(c.input), c.whole);
    }
    // Encoded forms are long too.
    EXPECT_EQ(redactor->redact(hex_of(bundle)), "[REDACTED_CA_HEX]");
}

// The redaction passed on as it comes, settled first and the rest once the
// text has ended.
std::string settled_then_ended(const Redactor& redactor, std::string_view text) {
    SecretBytes out;
    const std::size_t settled = redactor.redact_settled(text, out);
    redactor.redact_ended(text.substr(settled), TextEnd::Whole, out);
    return std::string(out.view());
}

// Patterns that the matcher holds only the head of redact as the same
// patterns held whole do, where checking them whole at every start would
// compare most of them again and again (texts that nearly match everywhere,
// patterns that overlap themselves), and where forms of one value or of two
// are byte for byte the same: the first in order wins.
TEST(Redactor, PatternsCheckedBeyondTheirHeadsRedactAsWholeOnes) {
    const std::string xs(300, 'x');
    std::string periodic;
    for (int period = 0; period < 60; ++period) periodic += "xxxxy";
    // Letters and digits only: its percent and JSON forms are the value itself.
    std::string plain;
    for (int word = 0; plain.size() < 600; ++word) plain += "Tok" + std::to_string(word * 31);
    struct Case {
        Entries entries;
        std::string input;
    };
    const std::vector<Case> cases = {
        {{{"K", xs + "y"}}, std::string(2000, 'x')},
        {{{"K", xs + "y"}}, std::string(1000, 'x') + "y" + xs + "y" + xs},
        {{{"K", xs + "y"}}, "a" + xs},
        {{{"K", periodic}}, "xxxy" + periodic + periodic.substr(0, 200) + periodic},
        {{{"K", periodic}}, periodic.substr(0, 290)},
        {{{"K", plain}}, "<" + plain + ">" + plain.substr(0, 500)},
        {{{"A", plain}, {"B", plain}}, plain + " " + plain},
        {{{"A", xs + "y"}, {"B", xs + "z"}}, xs + "z " + xs + "y " + xs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.substr(0, 40));
        const Result<Redactor> whole = build_redactor(secret_list(c.entries));
        const Result<Redactor> headed =
            build_redactor(secret_list(c.entries), {}, {.max_pattern_bytes = 600});
        ASSERT_TRUE(whole.has_value());
        ASSERT_TRUE(headed.has_value());
        EXPECT_EQ(headed->redact(c.input), whole->redact(c.input));
        for (const TextEnd end : {TextEnd::Whole, TextEnd::Cut}) {
            EXPECT_EQ(headed->redact(SecretBytes(c.input), end).view(),
                      whole->redact(SecretBytes(c.input), end).view());
        }
        EXPECT_EQ(settled_then_ended(*headed, c.input), settled_then_ended(*whole, c.input));
    }
}

// A redaction that its watch stops keeps what it has redacted, drops the rest
// unread and says so on a line of its own: nothing of a secret is left,
// however far it got.
TEST(Redactor, DropsWhatItHadNoTimeToRedact) {
    const Result<Redactor> redactor = build_redactor(secret_list({{"TOKEN", "hunter22"}}));
    ASSERT_TRUE(redactor.has_value());
    std::string input;
    for (int line = 0; line < 2000; ++line) input += "line " + std::to_string(line) + " hunter22\n";
    const std::string full = redactor->redact(input);

    const auto expect_dropped_after_redacted_start = [&](std::string_view result) {
        ASSERT_TRUE(result.ends_with(kDroppedOutputMarker));
        std::string_view kept = result.substr(0, result.size() - kDroppedOutputMarker.size());
        EXPECT_EQ(result.find("hunter"), std::string_view::npos);
        if (!full.substr(0, kept.size()).ends_with('\n')) kept.remove_suffix(kept.empty() ? 0 : 1);
        EXPECT_TRUE(full.starts_with(kept));
        EXPECT_LT(kept.size(), full.size());
    };
    for (const auto step : {std::chrono::nanoseconds(0), std::chrono::nanoseconds(1)}) {
        SCOPED_TRACE(step.count());
        testing::FakeClock clock;
        // Passed before it starts, or a few looks at the clock into it.
        const MonotonicTime deadline = clock.now() + 10 * step;
        clock.move_on_each_read(step);
        RedactionWatch in_place(clock, deadline);
        expect_dropped_after_redacted_start(
            redactor->redact(SecretBytes(input), TextEnd::Whole, in_place).view());
        EXPECT_TRUE(in_place.gave_up());
        RedactionWatch appended(clock, clock.now() + 10 * step);
        SecretBytes out;
        redactor->redact_ended(input, TextEnd::Whole, out, appended);
        expect_dropped_after_redacted_start(out.view());
    }
    RedactionWatch never;
    EXPECT_EQ(redactor->redact(SecretBytes(input), TextEnd::Whole, never).view(), full);
    EXPECT_FALSE(never.gave_up());
}

// However many secrets, the matcher holds heads short enough for all of them
// within its limit on their bytes; the results stay those of the whole patterns.
TEST(Redactor, ShortensHeadsToFitTheLimitOnPatternBytes) {
    const Entries entries = {{"A", "correct horse battery staple"},
                             {"B", "correct horse battery stable"},
                             {"C", "hunter2"}};
    const std::string text =
        "correct horse battery stable, correct horse battery staple, correct horse, hunter2";
    const std::string expected = "[REDACTED_B], [REDACTED_A], correct horse, [REDACTED_C]";
    for (const std::size_t max_bytes : {std::size_t{1} << 24, std::size_t{400}, std::size_t{60}}) {
        const Result<Redactor> redactor =
            build_redactor(secret_list(entries), {}, {.max_pattern_bytes = max_bytes});
        ASSERT_TRUE(redactor.has_value()) << max_bytes;
        EXPECT_EQ(redactor->redact(text), expected) << max_bytes;
    }
}

TEST(Redactor, ReportsMatcherBuildFailureInItsOwnWords) {
    // Even cut to one byte, the heads of "hunter2"'s five forms hold five bytes.
    const Result<Redactor> redactor =
        build_redactor(secret_list({{"K", "hunter2"}}), {}, {.max_pattern_bytes = 4});
    ASSERT_FALSE(redactor.has_value());
    EXPECT_EQ(redactor.error(),
              CoreError(errors::AutomatonBuildFailed{
                  "too many pattern bytes: the patterns hold 5, more than the limit of 4"}));
}

// The master passphrase is redacted with the entries, from outside the vault.
// Where one of its forms and an entry's both match at one start, the longer
// wins, whichever of the two it is, so that the tail of neither shows.
TEST(Redactor, TheLongerOfAnEntryAndAnOutsideSecretWinsAtOneStart) {
    const std::string passphrase = "correct horse battery staple";
    const std::string beyond_head(5000, 'q');
    struct Case {
        Entries entries;
        std::string outside;
        std::string input;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // An entry that begins the passphrase, and so its forms too ...
        {{{"PREFIX", "correct horse battery"}}, passphrase, passphrase, "[REDACTED_KEY]"},
        {{{"PREFIX", "correct horse battery"}},
         passphrase,
         "correct horse battery",
         "[REDACTED_PREFIX]"},
        {{{"PREFIX", "correct horse battery"}},
         passphrase,
         hex_of(passphrase),
         "[REDACTED_KEY_HEX]"},
        // ... even where the passphrase is inside Base64 text (with a line
        // feed after it) and the entry's form is padded Base64.
        {{{"PREFIX", "correct horse battery"}},
         passphrase,
         "Y29ycmVjdCBob3JzZSBiYXR0ZXJ5IHN0YXBsZQo=",
         "[REDACTED_KEY_B64]Qo="},
        // An entry that the passphrase begins.
        {{{"LONGER", passphrase + "!"}}, passphrase, passphrase + "!", "[REDACTED_LONGER]"},
        {{{"LONGER", passphrase + "!"}}, passphrase, passphrase + "?", "[REDACTED_KEY]?"},
        // Of two equal ones, the entry's.
        {{{"SAME", passphrase}}, passphrase, passphrase, "[REDACTED_SAME]"},
        // Beyond the matcher's heads, compared whole.
        {{{"PREFIX", beyond_head}}, beyond_head + "!", beyond_head + "!", "[REDACTED_KEY]"},
        {{{"LONGER", beyond_head + "!"}}, beyond_head, beyond_head + "!", "[REDACTED_LONGER]"},
    };
    for (const Case& c : cases) {
        SecretList outside;
        outside.push_back({"KEY", SecretBytes(c.outside)});
        const Result<Redactor> redactor = build_redactor(secret_list(c.entries), outside);
        ASSERT_TRUE(redactor.has_value());
        EXPECT_EQ(redactor->redact(c.input), c.expected) << "input " << c.input.substr(0, 48);
    }
}

}  // namespace
}  // namespace quillbox
