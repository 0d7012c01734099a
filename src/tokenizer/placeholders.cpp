#include "tokenizer/placeholders.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "core/key_name.hpp"
#include "redact/encodings.hpp"
#include "tokenizer/near_names.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kOpen = "{{";
constexpr std::string_view kClose = "}}";

// The prefixes that the extended forms give a key, and what each makes of it.
constexpr std::array<std::pair<std::string_view, PlaceholderKind>, 2> kKindPrefixes = {{
    {"file:", PlaceholderKind::File},
    {"url:", PlaceholderKind::Url},
}};

bool is_ascii_letter(char character) {
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z');
}

// Whether the `{{` whose text begins at `text_start` opens a placeholder: in
// the extended forms, only where a key could begin.
bool opens_placeholder(std::string_view word, std::size_t text_start, PlaceholderForms forms) {
    if (forms == PlaceholderForms::ValuesOnly) return true;
    return text_start < word.size() &&
           (is_ascii_letter(word[text_start]) || word[text_start] == '_');
}

// The entry a placeholder's text names, and as what; none where the key
// breaks the key-name rule.
std::optional<std::pair<std::string_view, PlaceholderKind>> placeholder_target(
    std::string_view text, PlaceholderForms forms) {
    if (forms == PlaceholderForms::Extended) {
        for (const auto& [prefix, kind] : kKindPrefixes) {
            if (!text.starts_with(prefix)) continue;
            text.remove_prefix(prefix.size());
            if (is_valid_key_name(text)) return std::pair(text, kind);
            return std::nullopt;
        }
    }
    if (is_valid_key_name(text)) return std::pair(text, PlaceholderKind::Value);
    return std::nullopt;
}

CoreError unclosed(std::string text, PlaceholderForms forms) {
    if (forms == PlaceholderForms::Extended) return errors::UnclosedPlaceholder{std::move(text)};
    return errors::MalformedPlaceholder{std::move(text)};
}

CoreError invalid(std::string text, PlaceholderForms forms) {
    if (forms == PlaceholderForms::Extended) return errors::InvalidPlaceholder{std::move(text)};
    return errors::InvalidPlaceholderKey{std::move(text)};
}

// Whether a key that no entry has may be a template's action written without
// a space after `{{`: it holds a lower-case letter, as actions do and entry
// names seldom do, and no entry's name is near it, as a mistyped one would be.
bool may_be_template_action(std::string_view key, const VaultEntries& entries) {
    return std::ranges::any_of(key, [](char c) { return c >= 'a' && c <= 'z'; }) &&
           !near_an_entry_name(key, entries);
}

// Lookups scan the entries in stored order and take the first equal name;
// comparing strings compares their lengths before their bytes.
const SecretBytes* find_value(const VaultEntries& entries, std::string_view key) {
    for (const VaultEntry& entry : entries) {
        if (entry.name == key) return &entry.value;
    }
    return nullptr;
}

// Every key of the word is looked up before any value is copied, so the
// argument is allocated once at its final size and holds no secret byte when
// a later key turns out to be missing. A file placeholder gets its file then.
Result<SecretBytes> resolve_word(const ParsedWord& word, const VaultEntries& entries,
                                 SecretFiles& files, PlaceholderForms forms) {
    std::vector<const SecretBytes*> values;
    values.reserve(word.placeholders.size());
    std::vector<std::string> paths;
    std::size_t length = word.text.size() + 1;
    for (const Placeholder& placeholder : word.placeholders) {
        const SecretBytes* value = find_value(entries, placeholder.key);
        if (value == nullptr) {
            const bool template_hint = forms == PlaceholderForms::Extended &&
                                       may_be_template_action(placeholder.key, entries);
            return fail(errors::UnresolvedPlaceholder{placeholder.key, template_hint});
        }
        std::size_t filled_length = value->size();
        if (placeholder.kind == PlaceholderKind::File) {
            Result<std::string> path = files.path_for(placeholder.key, *value);
            if (!path) return fail(std::move(path.error()));
            filled_length = path->size();
            paths.push_back(std::move(*path));
        } else if (placeholder.kind == PlaceholderKind::Url) {
            filled_length = percent_encoded_size(value->view(), kUrlComponent);
        }
        length = length - (placeholder.end - placeholder.start) + filled_length;
        values.push_back(value);
    }

    const std::string_view text = word.text;
    SecretBytes argument;
    argument.reserve(length);
    std::size_t copied_up_to = 0;
    auto next_path = paths.begin();
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Placeholder& placeholder = word.placeholders[i];
        argument.append(text.substr(copied_up_to, placeholder.start - copied_up_to));
        switch (placeholder.kind) {
            case PlaceholderKind::Value: argument.append(values[i]->view()); break;
            case PlaceholderKind::File: argument.append(*next_path++); break;
            case PlaceholderKind::Url:
                append_percent(argument, values[i]->view(), kUrlComponent);
                break;
        }
        copied_up_to = placeholder.end;
    }
    argument.append(text.substr(copied_up_to));
    argument.push_back('\0');
    return argument;
}

}  // namespace

Result<std::vector<Placeholder>> parse_placeholders(std::string_view word, PlaceholderForms forms) {
    std::vector<Placeholder> placeholders;
    std::size_t position = 0;
    while (true) {
        const std::size_t start = word.find(kOpen, position);
        if (start == std::string_view::npos) return placeholders;
        const std::size_t key_start = start + kOpen.size();
        if (!opens_placeholder(word, key_start, forms)) {
            // Its second brace may open one: "{{{K}}}".
            position = start + 1;
            continue;
        }
        const std::size_t close = word.find(kClose, key_start);
        if (close == std::string_view::npos) {
            return fail(unclosed(std::string(kOpen).append(word.substr(key_start)), forms));
        }
        const std::string_view text = word.substr(key_start, close - key_start);
        const auto target = placeholder_target(text, forms);
        if (!target) return fail(invalid(std::string(kOpen).append(text).append(kClose), forms));
        position = close + kClose.size();
        placeholders.push_back({std::string(target->first), start, position, target->second});
    }
}

Result<std::vector<ParsedWord>> parse_words(std::vector<std::string> words,
                                            PlaceholderForms forms) {
    std::vector<ParsedWord> parsed;
    parsed.reserve(words.size());
    for (std::string& word : words) {
        Result<std::vector<Placeholder>> placeholders = parse_placeholders(word, forms);
        if (!placeholders) return fail(std::move(placeholders.error()));
        parsed.push_back({std::move(word), std::move(*placeholders)});
    }
    return parsed;
}

Result<std::vector<SecretBytes>> resolve_placeholders(std::span<const ParsedWord> words,
                                                      const VaultEntries& entries,
                                                      SecretFiles& files, PlaceholderForms forms) {
    std::vector<SecretBytes> arguments;
    arguments.reserve(words.size());
    for (const ParsedWord& word : words) {
        Result<SecretBytes> argument = resolve_word(word, entries, files, forms);
        if (!argument) return fail(std::move(argument.error()));
        arguments.push_back(std::move(*argument));
    }
    return arguments;
}

}  // namespace quillbox
