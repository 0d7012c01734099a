#include "tokenizer/placeholders.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/unique_fd.hpp"
#include "support/core_error_printer.hpp"
#include "tokenizer/tokenizer.hpp"

namespace quillbox {
namespace {

struct ParseCase {
    std::string_view word;
    std::vector<Placeholder> placeholders;
};

TEST(ParsePlaceholders, FindsEveryPlaceholderWithItsByteRange) {
    const std::vector<ParseCase> cases = {
        {"", {}},
        {"plain", {}},
        {"{A} } }} {", {}},
        {"{{API_TOKEN}}", {{"API_TOKEN", 0, 13}}},
        {"--token={{API_TOKEN}}", {{"API_TOKEN", 8, 21}}},
        {"{{A}}{{B}}", {{"A", 0, 5}, {"B", 5, 10}}},
        {"{{A}}}", {{"A", 0, 5}}},
        {"}}{{_x9}}", {{"_x9", 2, 9}}},
        {"\u00E9{{K}}\u00E9", {{"K", 2, 7}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.word);
        const Result<std::vector<Placeholder>> placeholders = parse_placeholders(c.word);
        ASSERT_TRUE(placeholders.has_value()) << placeholders.error().to_text();
        EXPECT_EQ(*placeholders, c.placeholders);
    }
}

struct RefusalCase {
    std::string_view input;
    CoreError error;
};

TEST(ParsePlaceholders, RefusesTheLeftmostBadPlaceholder) {
    using errors::InvalidPlaceholderKey;
    using errors::MalformedPlaceholder;
    const std::vector<RefusalCase> cases = {
        {"x{{", MalformedPlaceholder{"{{"}},
        {"{{A", MalformedPlaceholder{"{{A"}},
        {"{{A}", MalformedPlaceholder{"{{A}"}},
        {"{{}}", InvalidPlaceholderKey{"{{}}"}},
        {"{{1A}}", InvalidPlaceholderKey{"{{1A}}"}},
        {"{{A-B}}", InvalidPlaceholderKey{"{{A-B}}"}},
        {"{{\u00E9}}", InvalidPlaceholderKey{"{{\u00E9}}"}},
        {"{{ A }}", InvalidPlaceholderKey{"{{ A }}"}},
        // The first `}}` closes, whatever lies between.
        {"{{A{{B}}", InvalidPlaceholderKey{"{{A{{B}}"}},
        {"{{{A}}}", InvalidPlaceholderKey{"{{{A}}"}},
        {"{{A}}x{{B", MalformedPlaceholder{"{{B"}},
        {"{{1}}{{B", InvalidPlaceholderKey{"{{1}}"}},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.input);
        const Result<std::vector<Placeholder>> placeholders = parse_placeholders(c.input);
        ASSERT_FALSE(placeholders.has_value());
        EXPECT_EQ(placeholders.error(), c.error);
    }
}

TEST(ParsePlaceholders, NamesFilesAndUrlsOnlyInTheExtendedForms) {
    const auto extended = [](std::string_view word) {
        return parse_placeholders(word, PlaceholderForms::Extended);
    };
    EXPECT_EQ(*extended("x{{file:K}}{{K}}{{url:K}}"),
              (std::vector<Placeholder>{{"K", 1, 11, PlaceholderKind::File},
                                        {"K", 11, 16, PlaceholderKind::Value},
                                        {"K", 16, 25, PlaceholderKind::Url}}));
    for (const std::string_view bad :
         {"{{file:}}", "{{file:1K}}", "{{FILE:K}}", "{{file: K}}", "{{url:}}", "{{url:1K}}",
          "{{URL:K}}", "{{url: K}}", "{{url:file:K}}", "{{file:url:K}}"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(extended(bad).error(), CoreError(errors::InvalidPlaceholder{std::string(bad)}));
    }
    for (const std::string_view word : {"{{file:K}}", "{{url:K}}"}) {
        EXPECT_EQ(parse_placeholders(word).error(),
                  CoreError(errors::InvalidPlaceholderKey{std::string(word)}));
    }
}

// What parsing a word gives: its placeholders, or the error.
using ParseOutcome = std::variant<std::vector<Placeholder>, CoreError>;

ParseOutcome outcome_of(std::string_view word, PlaceholderForms forms) {
    Result<std::vector<Placeholder>> placeholders = parse_placeholders(word, forms);
    if (!placeholders) return std::move(placeholders.error());
    return std::move(*placeholders);
}

ParseOutcome text_only() {
    return std::vector<Placeholder>{};
}

struct FormsCase {
    std::string_view word;
    ParseOutcome values_only;
    ParseOutcome extended;
};

// The pinned grammar opens a placeholder at every `{{`; the extended forms
// only where a letter or "_" follows, so that templates pass as written.
TEST(ParsePlaceholders, TemplateBracesAreTextOnlyInTheExtendedForms) {
    using errors::InvalidPlaceholder;
    using errors::InvalidPlaceholderKey;
    using errors::MalformedPlaceholder;
    using errors::UnclosedPlaceholder;
    const auto value = [](std::string_view key, std::size_t start, std::size_t end) {
        return ParseOutcome(std::vector<Placeholder>{{std::string(key), start, end}});
    };
    const std::vector<FormsCase> cases = {
        {"{{API_TOKEN}}", value("API_TOKEN", 0, 13), value("API_TOKEN", 0, 13)},
        {"{{_x9}}", value("_x9", 0, 7), value("_x9", 0, 7)},
        // A template action that is a valid name is a key in both.
        {"{{end}}", value("end", 0, 7), value("end", 0, 7)},
        // docker inspect -f, Go templates, git --format, Jinja and Mustache.
        {"{{.Name}}", InvalidPlaceholderKey{"{{.Name}}"}, text_only()},
        {"{{%h}}", InvalidPlaceholderKey{"{{%h}}"}, text_only()},
        {"{{ end }}", InvalidPlaceholderKey{"{{ end }}"}, text_only()},
        {"{{- if .X }}", InvalidPlaceholderKey{"{{- if .X }}"}, text_only()},
        {"{{ json . }}", InvalidPlaceholderKey{"{{ json . }}"}, text_only()},
        {"{{$x := 1}}", InvalidPlaceholderKey{"{{$x := 1}}"}, text_only()},
        {"{{\"q\"}}", InvalidPlaceholderKey{"{{\"q\"}}"}, text_only()},
        {"{{/* c */}}", InvalidPlaceholderKey{"{{/* c */}}"}, text_only()},
        {"{{1A}}", InvalidPlaceholderKey{"{{1A}}"}, text_only()},
        {"{{}}", InvalidPlaceholderKey{"{{}}"}, text_only()},
        {"{{\u00E9}}", InvalidPlaceholderKey{"{{\u00E9}}"}, text_only()},
        {"x{{", MalformedPlaceholder{"{{"}, text_only()},
        {"{{.X", MalformedPlaceholder{"{{.X"}, text_only()},
        // The second brace of three opens one.
        {"{{{A}}}", InvalidPlaceholderKey{"{{{A}}"}, value("A", 1, 6)},
        {"{{.Name}}={{A}}", InvalidPlaceholderKey{"{{.Name}}"}, value("A", 10, 15)},
        // A name that opens, then is no key: a malformed key, or an action.
        {"{{API-TOKEN}}", InvalidPlaceholderKey{"{{API-TOKEN}}"},
         InvalidPlaceholder{"{{API-TOKEN}}"}},
        {"{{range .X}}", InvalidPlaceholderKey{"{{range .X}}"}, InvalidPlaceholder{"{{range .X}}"}},
        {"{{json .}}", InvalidPlaceholderKey{"{{json .}}"}, InvalidPlaceholder{"{{json .}}"}},
        {"{{A", MalformedPlaceholder{"{{A"}, UnclosedPlaceholder{"{{A"}},
        {"{{.X}}{{_", InvalidPlaceholderKey{"{{.X}}"}, UnclosedPlaceholder{"{{_"}},
    };
    for (const FormsCase& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_EQ(outcome_of(c.word, PlaceholderForms::ValuesOnly), c.values_only);
        EXPECT_EQ(outcome_of(c.word, PlaceholderForms::Extended), c.extended);
    }
}

TEST(ParsePlaceholders, ErrorsCarryThePlaceholderText) {
    EXPECT_EQ(parse_placeholders("{{A").error(), CoreError(errors::MalformedPlaceholder{"{{A"}));
    EXPECT_EQ(parse_placeholders("{{1A}}").error(),
              CoreError(errors::InvalidPlaceholderKey{"{{1A}}"}));
}

// A small vault: names as the store keeps them, values of every awkward shape.
VaultEntries sample_entries() {
    const std::vector<std::pair<std::string_view, std::string_view>> pairs = {
        {"API_TOKEN", "s3cr3t"},
        {"A", "alpha"},
        {"B", "beta"},
        {"EMPTY", ""},
        {"SPACED", "a b 'c' \"d\" $HOME {{A}}"},
        {"BINARY", std::string_view("x\0y\xFF", 4)},
        {"DUP", "first"},
        {"DUP", "second"},
    };
    VaultEntries entries;
    for (const auto& [name, value] : pairs) {
        entries.push_back(VaultEntry{std::string(name), SecretBytes(value)});
    }
    return entries;
}

// The command the way a run takes it: split, parse every word, then resolve.
Result<std::vector<SecretBytes>> arguments_for(std::string_view command,
                                               const VaultEntries& entries) {
    Result<std::vector<std::string>> words = tokenize(command);
    if (!words) return fail(std::move(words.error()));
    Result<std::vector<ParsedWord>> parsed = parse_words(std::move(*words));
    if (!parsed) return fail(std::move(parsed.error()));
    SecretFiles files;
    return resolve_placeholders(*parsed, entries, files);
}

struct ResolveCase {
    std::string_view command;
    std::vector<std::string_view> arguments;
};

TEST(ResolvePlaceholders, ReplacesEachPlaceholderWithTheRawValue) {
    const VaultEntries entries = sample_entries();
    const std::vector<ResolveCase> cases = {
        {"echo plain", {"echo", "plain"}},
        {"echo {{API_TOKEN}}", {"echo", "s3cr3t"}},
        {"--token={{API_TOKEN}}", {"--token=s3cr3t"}},
        {"{{A}}{{B}}", {"alphabeta"}},
        {"x{{A}}y{{B}}z {{A}}", {"xalphaybetaz", "alpha"}},
        // Braces are found after quoting is removed, however they were written.
        {"'{{API_TOKEN}}' \"{{API_TOKEN}}\" \\{\\{API_TOKEN}}", {"s3cr3t", "s3cr3t", "s3cr3t"}},
        // An empty value leaves nothing behind; alone it gives an empty argument.
        {"x{{EMPTY}}y {{EMPTY}}", {"xy", ""}},
        // Values are inserted as they are: not split, unquoted, not parsed again.
        {"{{SPACED}}", {"a b 'c' \"d\" $HOME {{A}}"}},
        {":{{BINARY}}:", {std::string_view(":x\0y\xFF:", 6)}},
        // The first entry of a name wins.
        {"{{DUP}}", {"first"}},
    };
    for (const ResolveCase& c : cases) {
        SCOPED_TRACE(c.command);
        const Result<std::vector<SecretBytes>> arguments = arguments_for(c.command, entries);
        ASSERT_TRUE(arguments.has_value()) << arguments.error().to_text();
        ASSERT_EQ(arguments->size(), c.arguments.size());
        for (std::size_t i = 0; i < c.arguments.size(); ++i) {
            const std::string_view argument = (*arguments)[i].view();
            ASSERT_FALSE(argument.empty());
            EXPECT_EQ(argument.back(), '\0');
            EXPECT_EQ(argument.substr(0, argument.size() - 1), c.arguments[i]);
        }
    }
}

TEST(ResolvePlaceholders, ReportsParseFailuresBeforeLookupsThenTheFirstMissingKey) {
    using errors::UnresolvedPlaceholder;
    const VaultEntries entries = sample_entries();
    const std::vector<RefusalCase> cases = {
        // Names are case-sensitive.
        {"echo {{api_token}}", UnresolvedPlaceholder{"api_token"}},
        // A bad placeholder in a later word beats a missing key in an earlier one.
        {"echo {{MISSING}} {{1BAD}}", errors::InvalidPlaceholderKey{"{{1BAD}}"}},
        {"echo {{MISSING}} x{{A", errors::MalformedPlaceholder{"{{A"}},
        // Among missing keys the first in word order, then left to right.
        {"echo {{MISSING}} {{OTHER_MISSING}}", UnresolvedPlaceholder{"MISSING"}},
        {"echo {{A}}{{LEFT}}{{RIGHT}} {{B}}", UnresolvedPlaceholder{"LEFT"}},
        // Quoting keeps the blanks in the key; unquoted, the blanks split it first.
        {"echo '{{ A }}'", errors::InvalidPlaceholderKey{"{{ A }}"}},
        {"echo {{ A }}", errors::MalformedPlaceholder{"{{"}},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.input);
        const Result<std::vector<SecretBytes>> arguments = arguments_for(c.input, entries);
        ASSERT_FALSE(arguments.has_value());
        EXPECT_EQ(arguments.error(), c.error);
    }
}

// What a file that a resolved argument names holds, read through its path.
std::string contents_at(std::string_view path) {
    std::string contents;
    UniqueFd fd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[64];
    for (ssize_t got; (got = ::read(fd.get(), buffer, sizeof buffer)) > 0;) {
        contents.append(buffer, static_cast<std::size_t>(got));
    }
    return contents;
}

TEST(ResolvePlaceholders, AFilePlaceholderBecomesThePathOfOneFilePerKey) {
    Result<std::vector<ParsedWord>> parsed =
        parse_words({"--key={{file:BINARY}}", "{{file:BINARY}}", "{{file:EMPTY}}{{A}}"},
                    PlaceholderForms::Extended);
    ASSERT_TRUE(parsed.has_value());
    SecretFiles files;
    const Result<std::vector<SecretBytes>> arguments =
        resolve_placeholders(*parsed, sample_entries(), files);
    ASSERT_TRUE(arguments.has_value()) << arguments.error().to_text();
    const std::optional<SecretFileFolder> folder = files.take();
    ASSERT_TRUE(folder.has_value());
    const std::string binary = (folder->path() / "BINARY").string();
    const std::string empty = (folder->path() / "EMPTY").string();
    const auto text_of = [](const SecretBytes& argument) {
        return std::string(argument.view().substr(0, argument.size() - 1));
    };
    EXPECT_EQ(text_of((*arguments)[0]), "--key=" + binary);
    EXPECT_EQ(text_of((*arguments)[1]), binary);
    EXPECT_EQ(text_of((*arguments)[2]), empty + "alpha");
    EXPECT_EQ(contents_at(binary), std::string_view("x\0y\xFF", 4));
    EXPECT_EQ(contents_at(empty), "");
}

TEST(ResolvePlaceholders, ACommandThatNamesNoFileMakesNoFolder) {
    Result<std::vector<ParsedWord>> parsed =
        parse_words({"echo", "{{A}}"}, PlaceholderForms::Extended);
    ASSERT_TRUE(parsed.has_value());
    SecretFiles files;
    ASSERT_TRUE(resolve_placeholders(*parsed, sample_entries(), files).has_value());
    EXPECT_FALSE(files.take().has_value());
}

// The arguments of words in the extended forms, each without its NUL.
Result<std::vector<std::string>> extended_arguments(std::vector<std::string> words,
                                                    const VaultEntries& entries) {
    Result<std::vector<ParsedWord>> parsed =
        parse_words(std::move(words), PlaceholderForms::Extended);
    if (!parsed) return fail(std::move(parsed.error()));
    SecretFiles files;
    Result<std::vector<SecretBytes>> arguments =
        resolve_placeholders(*parsed, entries, files, PlaceholderForms::Extended);
    if (!arguments) return fail(std::move(arguments.error()));
    std::vector<std::string> texts;
    for (const SecretBytes& argument : *arguments) {
        // Allocated once, at its final size.
        EXPECT_EQ(argument.capacity(), argument.size());
        texts.emplace_back(argument.view().substr(0, argument.size() - 1));
    }
    return texts;
}

struct UrlCase {
    std::string_view value;
    std::string_view encoded;
};

TEST(ResolvePlaceholders, AUrlPlaceholderKeepsOnlyTheUnreservedCharacters) {
    const std::vector<UrlCase> cases = {
        {"AZaz09-._~", "AZaz09-._~"},
        {"@:/#%&?= +", "%40%3A%2F%23%25%26%3F%3D%20%2B"},
        {"!$'()*,;[]", "%21%24%27%28%29%2A%2C%3B%5B%5D"},
        {"\"<>\\^`{|}", "%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {"p\u00E4ss\u20AC", "p%C3%A4ss%E2%82%AC"},
        {std::string_view("\0\x01\n\x7F\x80\xFF", 6), "%00%01%0A%7F%80%FF"},
        {"", ""},
    };
    for (const UrlCase& c : cases) {
        SCOPED_TRACE(c.encoded);
        VaultEntries entries;
        entries.push_back({"PW", SecretBytes(c.value)});
        const Result<std::vector<std::string>> arguments =
            extended_arguments({"https://u:{{url:PW}}@h/{{url:PW}}?q={{url:PW}}"}, entries);
        ASSERT_TRUE(arguments.has_value()) << arguments.error().to_text();
        const std::string encoded(c.encoded);
        EXPECT_EQ(*arguments, std::vector<std::string>{"https://u:" + encoded + "@h/" + encoded +
                                                       "?q=" + encoded});
    }
}

TEST(ResolvePlaceholders, TemplateBracesReachTheArgumentAsWritten) {
    const Result<std::vector<std::string>> arguments = extended_arguments(
        {"--format={{%h}} {{A}}", "{{.Name}}", "{{ end }}{{{B}}}", "{{json .Config}}x"},
        sample_entries());
    // The last word's `{{json .Config}}` opens a placeholder that is no key.
    ASSERT_FALSE(arguments.has_value());
    EXPECT_EQ(arguments.error(), CoreError(errors::InvalidPlaceholder{"{{json .Config}}"}));
    EXPECT_EQ(*extended_arguments({"--format={{%h}} {{A}}", "{{.Name}}", "{{ end }}{{{B}}}"},
                                  sample_entries()),
              (std::vector<std::string>{"--format={{%h}} alpha", "{{.Name}}", "{{ end }}{beta}"}));
}

struct UnresolvedCase {
    std::string_view key;
    bool template_hint;
};

// In the extended forms, a missing key with a lower-case letter that no
// entry's name is near may be a template's action, and the error says how to
// write one; a mistyped name gets no such advice.
TEST(ResolvePlaceholders, AnUnknownKeyThatMayBeATemplateActionGetsTheHint) {
    const std::vector<UnresolvedCase> cases = {
        {"API_TOKN", false}, {"APITOKEN", false}, {"api_token", false}, {"API_TOKNE", false},
        {"Binary", false},   {"c", false},        {"NOPE", false},      {"end", true},
        {"range", true},     {"else", true},      {"template", true},   {"Name", true},
    };
    for (const UnresolvedCase& c : cases) {
        SCOPED_TRACE(c.key);
        const Result<std::vector<std::string>> arguments =
            extended_arguments({"{{" + std::string(c.key) + "}}"}, sample_entries());
        ASSERT_FALSE(arguments.has_value());
        EXPECT_EQ(arguments.error(),
                  CoreError(errors::UnresolvedPlaceholder{std::string(c.key), c.template_hint}));
    }
    // The pinned grammar never gives it.
    EXPECT_EQ(arguments_for("echo {{end}}", sample_entries()).error(),
              CoreError(errors::UnresolvedPlaceholder{"end"}));
}

TEST(ResolvePlaceholders, AnUnknownKeyIsUnresolvedUnderItsOwnName) {
    const Result<std::vector<SecretBytes>> arguments =
        arguments_for("echo {{api_token}}", sample_entries());
    ASSERT_FALSE(arguments.has_value());
    EXPECT_EQ(arguments.error(), CoreError(errors::UnresolvedPlaceholder{"api_token"}));
}

}  // namespace
}  // namespace quillbox
