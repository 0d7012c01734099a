// The placeholder parser and resolver on fuzz-chosen words and entries,
// checked against a plain reading of the rules: scan for `{{` (in the extended
// forms, one that a letter or "_" follows), close it at the first `}}`, check
// the key (in the extended forms, after a "file:" or "url:"), then put in the
// value of the first entry of that name.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "support/fuzz_check.hpp"
#include "tokenizer/placeholders.hpp"

namespace {

using quillbox::fuzzing::fuzz_check;
namespace errors = quillbox::errors;

bool is_ascii_letter(char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

// [A-Za-z_][A-Za-z0-9_]*
bool matches_key_rule(std::string_view key) {
    if (key.empty() || !(is_ascii_letter(key[0]) || key[0] == '_')) return false;
    for (const char ch : key) {
        if (!(is_ascii_letter(ch) || (ch >= '0' && ch <= '9') || ch == '_')) return false;
    }
    return true;
}

bool pair_at(std::string_view word, std::size_t position, char brace) {
    return position + 1 < word.size() && word[position] == brace && word[position + 1] == brace;
}

// The placeholders of a word, or the text of the error the parser must give.
struct ExpectedParse {
    std::vector<quillbox::Placeholder> placeholders;
    std::optional<std::string> malformed;
    std::optional<std::string> invalid_key;
};

// The key a placeholder's text names, and as what, in the extended forms.
std::pair<std::string, quillbox::PlaceholderKind> extended_target(const std::string& text) {
    if (text.starts_with("file:")) return {text.substr(5), quillbox::PlaceholderKind::File};
    if (text.starts_with("url:")) return {text.substr(4), quillbox::PlaceholderKind::Url};
    return {text, quillbox::PlaceholderKind::Value};
}

ExpectedParse parse_by_hand(std::string_view word, quillbox::PlaceholderForms forms) {
    const bool extended = forms == quillbox::PlaceholderForms::Extended;
    ExpectedParse expected;
    std::size_t position = 0;
    while (position + 1 < word.size()) {
        const std::size_t key_start = position + 2;
        const bool opens =
            pair_at(word, position, '{') &&
            (!extended || (key_start < word.size() &&
                           (is_ascii_letter(word[key_start]) || word[key_start] == '_')));
        if (!opens) {
            ++position;
            continue;
        }
        std::size_t close = key_start;
        while (close < word.size() && !pair_at(word, close, '}')) ++close;
        if (close == word.size()) {
            expected.malformed = "{{" + std::string(word.substr(key_start));
            return expected;
        }
        const std::string text(word.substr(key_start, close - key_start));
        const auto [key, kind] =
            extended ? extended_target(text) : std::pair(text, quillbox::PlaceholderKind::Value);
        if (!matches_key_rule(key)) {
            expected.invalid_key = "{{" + text + "}}";
            return expected;
        }
        expected.placeholders.push_back({key, position, close + 2, kind});
        position = close + 2;
    }
    return expected;
}

// The text an error names, when it is of the kinds that the forms give for an
// unclosed placeholder and for one with a bad key.
template <typename Unclosed, typename Invalid>
void check_refusal(const quillbox::ErrorDetail& detail, const ExpectedParse& expected) {
    if (const auto* malformed = std::get_if<Unclosed>(&detail)) {
        fuzz_check(expected.malformed == malformed->text, "the unclosed placeholder is named");
    } else {
        const auto* invalid = std::get_if<Invalid>(&detail);
        fuzz_check(invalid != nullptr && expected.invalid_key == invalid->text,
                   "the placeholder with the bad key is named");
    }
}

void check_parse(const quillbox::Result<std::vector<quillbox::Placeholder>>& parsed,
                 const ExpectedParse& expected, quillbox::PlaceholderForms forms) {
    if (parsed) {
        fuzz_check(!expected.malformed && !expected.invalid_key, "a bad placeholder is refused");
        fuzz_check(*parsed == expected.placeholders, "placeholders are found as the rules say");
        return;
    }
    if (forms == quillbox::PlaceholderForms::Extended) {
        check_refusal<errors::UnclosedPlaceholder, errors::InvalidPlaceholder>(
            parsed.error().detail(), expected);
    } else {
        check_refusal<errors::MalformedPlaceholder, errors::InvalidPlaceholderKey>(
            parsed.error().detail(), expected);
    }
}

const quillbox::SecretBytes* first_value(const quillbox::VaultEntries& entries,
                                         std::string_view name) {
    for (const quillbox::VaultEntry& entry : entries) {
        if (entry.name == name) return &entry.value;
    }
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> words(input.ConsumeIntegralInRange<std::size_t>(1, 3));
    for (std::string& word : words) word = input.ConsumeRandomLengthString(64);

    using quillbox::PlaceholderForms;
    std::vector<ExpectedParse> expected;
    for (const std::string& word : words) {
        const ExpectedParse extended = parse_by_hand(word, PlaceholderForms::Extended);
        check_parse(quillbox::parse_placeholders(word, PlaceholderForms::Extended), extended,
                    PlaceholderForms::Extended);
        expected.push_back(parse_by_hand(word, PlaceholderForms::ValuesOnly));
        check_parse(quillbox::parse_placeholders(word), expected.back(),
                    PlaceholderForms::ValuesOnly);
    }
    auto parsed = quillbox::parse_words(words);
    if (!parsed) return 0;

    // Some keys get an entry, some a second one that must never be used, and
    // a few names no placeholder asks for come first.
    quillbox::VaultEntries entries;
    for (int i = input.ConsumeIntegralInRange(0, 2); i > 0; --i) {
        entries.push_back({input.ConsumeRandomLengthString(8),
                           quillbox::SecretBytes(input.ConsumeRandomLengthString(8))});
    }
    for (const ExpectedParse& word : expected) {
        for (const quillbox::Placeholder& placeholder : word.placeholders) {
            for (int copies = input.ConsumeIntegralInRange(0, 2); copies > 0; --copies) {
                entries.push_back(
                    {placeholder.key, quillbox::SecretBytes(input.ConsumeRandomLengthString(16))});
            }
        }
    }

    std::vector<std::string> arguments;
    std::optional<std::string> missing;
    for (std::size_t i = 0; i < words.size() && !missing; ++i) {
        std::string argument;
        std::size_t copied_up_to = 0;
        for (const quillbox::Placeholder& placeholder : expected[i].placeholders) {
            const quillbox::SecretBytes* value = first_value(entries, placeholder.key);
            if (value == nullptr) {
                missing = placeholder.key;
                break;
            }
            argument.append(words[i], copied_up_to, placeholder.start - copied_up_to);
            argument.append(value->view());
            copied_up_to = placeholder.end;
        }
        argument.append(words[i], copied_up_to);
        argument.push_back('\0');
        arguments.push_back(std::move(argument));
    }

    quillbox::SecretFiles files;
    const auto resolved = quillbox::resolve_placeholders(*parsed, entries, files);
    if (missing) {
        const auto* unresolved =
            resolved ? nullptr
                     : std::get_if<errors::UnresolvedPlaceholder>(&resolved.error().detail());
        fuzz_check(unresolved != nullptr && unresolved->key == *missing,
                   "the first key without an entry is reported");
        return 0;
    }
    fuzz_check(resolved.has_value() && resolved->size() == arguments.size(),
               "every word becomes an argument");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        fuzz_check((*resolved)[i].view() == arguments[i],
                   "each placeholder becomes the first value of its name");
    }
    return 0;
}
