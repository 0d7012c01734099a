#include "tokenizer/tokenizer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/utf8.hpp"
#include "support/core_error_printer.hpp"

namespace quillbox {
namespace {

using Words = std::vector<std::string>;

struct SplitCase {
    std::string_view command;
    Words words;
};

TEST(Tokenize, SplitsCommandsIntoWords) {
    const std::vector<SplitCase> cases = {
        // Blanks separate; runs of them and blanks at either end produce nothing.
        {"echo  hello\tworld", {"echo", "hello", "world"}},
        {" \t echo \t", {"echo"}},
        // Empty quotes make an empty word.
        {"''", {""}},
        {"\"\"", {""}},
        {"a '' b", {"a", "", "b"}},
        // Newlines, carriage returns, other control characters and non-breaking
        // spaces are ordinary characters, not separators.
        {"echo a\nb", {"echo", "a\nb"}},
        {"a\r\x01\x7F-b", {"a\r\x01\x7F-b"}},
        {"a\u00A0b", {"a\u00A0b"}},
        // Quoting protects refused characters; so does a backslash.
        {"echo 'a|b'", {"echo", "a|b"}},
        {"echo \"a|b\"", {"echo", "a|b"}},
        {"echo a\\|b", {"echo", "a|b"}},
        {"echo \"$(x) ; & * ? [ < > ` {y} $HOME\"", {"echo", "$(x) ; & * ? [ < > ` {y} $HOME"}},
        // A `$` is kept when nothing that looks like a name or a substitution follows.
        {"echo $", {"echo", "$"}},
        {"echo $$", {"echo", "$$"}},
        {"echo $.", {"echo", "$."}},
        {"echo a$ b", {"echo", "a$", "b"}},
        {"echo \\$HOME", {"echo", "$HOME"}},
        {"echo $\u00ABx\u00BB $\u2014", {"echo", "$\u00ABx\u00BB", "$\u2014"}},
        // Characters that are syntax only in other positions, or not at all, are kept.
        {"echo ) a] #x ~ a=b {} } ! % ^ : , + - . /",
         {"echo", ")", "a]", "#x", "~", "a=b", "{}", "}", "!", "%", "^", ":", ",", "+", "-", ".",
          "/"}},
        // Touching pieces form one word.
        {"ab'c d'\"e\"", {"abc de"}},
        {"'it''s'", {"its"}},
        // Backslashes in and out of quotes.
        {"echo \"a\\\"b\"", {"echo", "a\"b"}},
        {"echo \"a\\\\b\"", {"echo", "a\\b"}},
        {"echo \"a\\b\"", {"echo", "a\\b"}},
        {"echo \"a\\nb\"", {"echo", "a\\nb"}},
        {"echo 'a\\b'", {"echo", "a\\b"}},
        {"echo a\\ b", {"echo", "a b"}},
        {"echo \\'", {"echo", "'"}},
        {"echo \\\"", {"echo", "\""}},
        {"echo a\\\nb", {"echo", "a\nb"}},
        // Multi-byte characters pass through whole, escaped or not.
        {"echo \u00E9 \u65E5\u672C \"\u00FC x\" \\\u00E9 \U0001D11E",
         {"echo", "\u00E9", "\u65E5\u672C", "\u00FC x", "\u00E9", "\U0001D11E"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.command);
        const Result<Words> words = tokenize(c.command);
        ASSERT_TRUE(words.has_value()) << words.error().to_text();
        EXPECT_EQ(*words, c.words);
    }
}

struct RefusalCase {
    std::string_view command;
    CoreError error;
};

TEST(Tokenize, RefusesWithTheLeftmostProblemAndItsByteOffset) {
    using errors::RejectedMetacharacter;
    const std::vector<RefusalCase> cases = {
        {"", errors::EmptyCommand{}},
        {" \t  \t", errors::EmptyCommand{}},
        {"echo a|b", RejectedMetacharacter{U'|', 6}},
        {"ls *.txt", RejectedMetacharacter{U'*', 3}},
        {"echo a && b", RejectedMetacharacter{U'&', 7}},
        {"cat <in", RejectedMetacharacter{U'<', 4}},
        {"echo x>y", RejectedMetacharacter{U'>', 6}},
        {"a;b", RejectedMetacharacter{U';', 1}},
        {"ls a?", RejectedMetacharacter{U'?', 4}},
        {"echo `id`", RejectedMetacharacter{U'`', 5}},
        {"echo (x)", RejectedMetacharacter{U'(', 5}},
        {"echo [a]", RejectedMetacharacter{U'[', 5}},
        // `$` before a name, a digit or a substitution, in the Unicode sense.
        {"echo $HOME", RejectedMetacharacter{U'$', 5}},
        {"echo ${X}", RejectedMetacharacter{U'$', 5}},
        {"echo $(id)", RejectedMetacharacter{U'$', 5}},
        {"echo $_", RejectedMetacharacter{U'$', 5}},
        {"echo $1", RejectedMetacharacter{U'$', 5}},
        {"echo $\u00E9", RejectedMetacharacter{U'$', 5}},
        {"echo $\u65E5\u672C", RejectedMetacharacter{U'$', 5}},
        {"echo $\u0663", RejectedMetacharacter{U'$', 5}},  // ARABIC-INDIC DIGIT THREE, Nd
        {"echo $\u216B", RejectedMetacharacter{U'$', 5}},  // ROMAN NUMERAL TWELVE, Nl
        {"echo $\u00B2", RejectedMetacharacter{U'$', 5}},  // SUPERSCRIPT TWO, No
        // Offsets count bytes, not characters.
        {"echo \u00E9;", RejectedMetacharacter{U';', 7}},
        {"\u00E9 \u65E5 |", RejectedMetacharacter{U'|', 7}},
        {"\U0001D11E $x", RejectedMetacharacter{U'$', 5}},
        {"\u65E5\u672C \"x", errors::UnclosedDoubleQuote{7}},
        // Unclosed quotes report the opening quote; only the last one counts.
        {"echo 'abc", errors::UnclosedSingleQuote{5}},
        {"echo \"abc\\", errors::UnclosedDoubleQuote{5}},
        {"'a' \"b", errors::UnclosedDoubleQuote{4}},
        {"echo \\", errors::TrailingBackslash{}},
        {"echo \"x\" \\", errors::TrailingBackslash{}},
        // The scan stops at the first problem.
        {"echo | 'x", RejectedMetacharacter{U'|', 5}},
        {"echo 'x | y", errors::UnclosedSingleQuote{5}},
        {"a ; b |", RejectedMetacharacter{U';', 2}},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.command);
        const Result<Words> words = tokenize(c.command);
        ASSERT_FALSE(words.has_value());
        EXPECT_EQ(words.error(), c.error);
    }
}

TEST(Tokenize, ReportsWhereEachProblemStarts) {
    const std::vector<std::pair<std::string_view, CoreError>> cases = {
        {"echo a|b", errors::RejectedMetacharacter{U'|', 6}},
        {"echo 'abc", errors::UnclosedSingleQuote{5}},
        {"x \"abc", errors::UnclosedDoubleQuote{2}},
        {"echo \\", errors::TrailingBackslash{}},
        {"", errors::EmptyCommand{}},
    };
    for (const auto& [command, error] : cases) {
        const Result<Words> words = tokenize(command);
        ASSERT_FALSE(words.has_value());
        EXPECT_EQ(words.error(), error);
    }
}

// Random commands from a fixed seed, built from the characters that matter to
// the grammar, so that every run checks the same inputs.
class RandomCommands {
public:
    explicit RandomCommands(std::span<const std::string_view> alphabet) : alphabet_(alphabet) {}

    std::string next(std::size_t max_pieces) {
        std::string command;
        const std::size_t pieces = rng_() % (max_pieces + 1);
        for (std::size_t i = 0; i < pieces; ++i) command += alphabet_[rng_() % alphabet_.size()];
        return command;
    }

private:
    std::span<const std::string_view> alphabet_;
    std::mt19937 rng_{20240611};
};

bool is_blank(char byte) {
    return byte == ' ' || byte == '\t';
}

bool is_character_boundary(std::string_view text, std::size_t offset) {
    return (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80;
}

// What must hold for any refusal of any command.
void expect_sound_refusal(std::string_view command, const CoreError& error) {
    const auto& detail = error.detail();
    if (const auto* rejected = std::get_if<errors::RejectedMetacharacter>(&detail)) {
        ASSERT_LT(rejected->offset, command.size());
        ASSERT_TRUE(is_character_boundary(command, rejected->offset));
        EXPECT_EQ(decode_utf8_step(command, rejected->offset).code_point, rejected->ch);
    } else if (const auto* single = std::get_if<errors::UnclosedSingleQuote>(&detail)) {
        ASSERT_LT(single->offset, command.size());
        EXPECT_EQ(command[single->offset], '\'');
    } else if (const auto* dbl = std::get_if<errors::UnclosedDoubleQuote>(&detail)) {
        ASSERT_LT(dbl->offset, command.size());
        EXPECT_EQ(command[dbl->offset], '"');
    } else if (error.kind() == ErrorKind::TrailingBackslash) {
        EXPECT_TRUE(command.ends_with('\\'));
    } else {
        ASSERT_EQ(error.kind(), ErrorKind::EmptyCommand);
        EXPECT_TRUE(std::ranges::all_of(command, is_blank));
    }
}

TEST(TokenizeProperty, EveryRefusalPointsAtAProblemCharacterInsideTheCommand) {
    constexpr std::array<std::string_view, 24> kAlphabet = {
        "'", "\"", "\\", " ", "\t", "\n", "|", "&",      ";",      "$",          "(",      "[",
        "*", "`",  "{",  "}", "a",  "_",  "1", "\u00E9", "\u65E5", "\U0001D11E", "\u00AB", "\u0663",
    };
    RandomCommands commands(kAlphabet);
    for (int i = 0; i < 20000; ++i) {
        const std::string command = commands.next(16);
        SCOPED_TRACE(command);
        const Result<Words> words = tokenize(command);
        if (words) {
            EXPECT_FALSE(words->empty());
            EXPECT_FALSE(std::ranges::all_of(command, is_blank));
        } else {
            expect_sound_refusal(command, words.error());
        }
    }
}

Words runs_of_letters(std::string_view command) {
    Words runs;
    std::string run;
    for (const char byte : command) {
        if (!is_blank(byte)) {
            run += byte;
        } else if (!run.empty()) {
            runs.push_back(std::exchange(run, std::string()));
        }
    }
    if (!run.empty()) runs.push_back(run);
    return runs;
}

TEST(TokenizeProperty, LettersAndBlanksSplitIntoTheRunsOfLetters) {
    constexpr std::array<std::string_view, 6> kAlphabet = {"a", "b", "Z", "q", " ", "\t"};
    RandomCommands commands(kAlphabet);
    for (int i = 0; i < 5000; ++i) {
        const std::string command = commands.next(24);
        SCOPED_TRACE(command);
        const Words expected = runs_of_letters(command);
        const Result<Words> words = tokenize(command);
        if (expected.empty()) {
            ASSERT_FALSE(words.has_value());
            EXPECT_EQ(words.error().kind(), ErrorKind::EmptyCommand);
        } else {
            ASSERT_TRUE(words.has_value()) << words.error().to_text();
            EXPECT_EQ(*words, expected);
        }
    }
}

}  // namespace
}  // namespace quillbox
