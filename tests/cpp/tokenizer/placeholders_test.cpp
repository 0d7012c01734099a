#include "tokenizer/placeholders.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>
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

TEST(ParsePlaceholders, NamesFilesOnlyWhereFilesAreAllowed) {
    const auto with_files = [](std::string_view word) {
        return parse_placeholders(word, PlaceholderForms::ValuesAndFiles);
    };
    EXPECT_EQ(*with_files("x{{file:K}}{{K}}"),
              (std::vector<Placeholder>{{"K", 1, 11, PlaceholderKind::File},
                                        {"K", 11, 16, PlaceholderKind::Value}}));
    for (const std::string_view bad : {"{{file:}}", "{{file:1K}}", "{{FILE:K}}", "{{file: K}}"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(with_files(bad).error(),
                  CoreError(errors::InvalidPlaceholderKey{std::string(bad)}));
    }
    EXPECT_EQ(parse_placeholders("{{file:K}}").error(),
              CoreError(errors::InvalidPlaceholderKey{"{{file:K}}"}));
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
                    PlaceholderForms::ValuesAndFiles);
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
        parse_words({"echo", "{{A}}"}, PlaceholderForms::ValuesAndFiles);
    ASSERT_TRUE(parsed.has_value());
    SecretFiles files;
    ASSERT_TRUE(resolve_placeholders(*parsed, sample_entries(), files).has_value());
    EXPECT_FALSE(files.take().has_value());
}

TEST(ResolvePlaceholders, AnUnknownKeyIsUnresolvedUnderItsOwnName) {
    const Result<std::vector<SecretBytes>> arguments =
        arguments_for("echo {{api_token}}", sample_entries());
    ASSERT_FALSE(arguments.has_value());
    EXPECT_EQ(arguments.error(), CoreError(errors::UnresolvedPlaceholder{"api_token"}));
}

}  // namespace
}  // namespace quillbox
