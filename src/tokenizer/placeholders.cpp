#include "tokenizer/placeholders.hpp"

#include <optional>
#include <utility>

#include "core/key_name.hpp"

namespace quillbox {
namespace {

constexpr std::string_view kOpen = "{{";
constexpr std::string_view kClose = "}}";
constexpr std::string_view kFilePrefix = "file:";

// The entry a placeholder's text names, and as what; none where the key
// breaks the key-name rule.
std::optional<std::pair<std::string_view, PlaceholderKind>> placeholder_target(
    std::string_view text, PlaceholderForms forms) {
    if (forms == PlaceholderForms::ValuesAndFiles && text.starts_with(kFilePrefix)) {
        text.remove_prefix(kFilePrefix.size());
        if (is_valid_key_name(text)) return std::pair(text, PlaceholderKind::File);
        return std::nullopt;
    }
    if (is_valid_key_name(text)) return std::pair(text, PlaceholderKind::Value);
    return std::nullopt;
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
                                 SecretFiles& files) {
    std::vector<const SecretBytes*> values;
    values.reserve(word.placeholders.size());
    std::vector<std::string> paths;
    std::size_t length = word.text.size() + 1;
    for (const Placeholder& placeholder : word.placeholders) {
        const SecretBytes* value = find_value(entries, placeholder.key);
        if (value == nullptr) return fail(errors::UnresolvedPlaceholder{placeholder.key});
        std::size_t filled_length = value->size();
        if (placeholder.kind == PlaceholderKind::File) {
            Result<std::string> path = files.path_for(placeholder.key, *value);
            if (!path) return fail(std::move(path.error()));
            filled_length = path->size();
            paths.push_back(std::move(*path));
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
        argument.append(placeholder.kind == PlaceholderKind::File ? std::string_view(*next_path++)
                                                                  : values[i]->view());
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
        const std::size_t close = word.find(kClose, key_start);
        if (close == std::string_view::npos) {
            return fail(
                errors::MalformedPlaceholder{std::string(kOpen).append(word.substr(key_start))});
        }
        const std::string_view text = word.substr(key_start, close - key_start);
        const auto target = placeholder_target(text, forms);
        if (!target) {
            return fail(
                errors::InvalidPlaceholderKey{std::string(kOpen).append(text).append(kClose)});
        }
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
                                                      SecretFiles& files) {
    std::vector<SecretBytes> arguments;
    arguments.reserve(words.size());
    for (const ParsedWord& word : words) {
        Result<SecretBytes> argument = resolve_word(word, entries, files);
        if (!argument) return fail(std::move(argument.error()));
        arguments.push_back(std::move(*argument));
    }
    return arguments;
}

}  // namespace quillbox
