#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/secret_bytes.hpp"
#include "core/vault_entry.hpp"
#include "tokenizer/secret_files.hpp"

namespace quillbox {

// What a placeholder stands for: the value itself, or the path of a file
// that holds it.
enum class PlaceholderKind { Value, File };

// Which placeholders a command may hold: `{{KEY}}` alone, or `{{file:KEY}}`
// too. Where files are not allowed, `{{file:KEY}}` is a key that breaks the
// key-name rule.
enum class PlaceholderForms { ValuesOnly, ValuesAndFiles };

// A `{{KEY}}` or `{{file:KEY}}` reference to a vault entry inside one word.
// Offsets are byte offsets into the word: `start` at the first `{`, `end`
// just past the last `}`.
struct Placeholder {
    std::string key;
    std::size_t start;
    std::size_t end;
    PlaceholderKind kind = PlaceholderKind::Value;

    bool operator==(const Placeholder&) const = default;
};

// A finished word and its placeholders, in increasing order of `start`; they
// never overlap.
struct ParsedWord {
    std::string text;
    std::vector<Placeholder> placeholders;
};

// Finds the placeholders of one finished word (quotes and backslashes already
// removed, so braces written quoted or escaped count too). The first `}}` after
// a `{{` closes it, whatever lies between; single braces and a `}}` with no
// `{{` before it are ordinary text. The leftmost `{{` that is never closed
// fails with MalformedPlaceholder, one whose key breaks the key-name rule with
// InvalidPlaceholderKey.
Result<std::vector<Placeholder>> parse_placeholders(
    std::string_view word, PlaceholderForms forms = PlaceholderForms::ValuesOnly);

// Parses every word, first to last, stopping at the first failure: a bad
// placeholder anywhere in the command is reported before any key is looked up.
Result<std::vector<ParsedWord>> parse_words(std::vector<std::string> words,
                                            PlaceholderForms forms = PlaceholderForms::ValuesOnly);

// Builds the argument vector: for each word, its bytes with every placeholder
// replaced by the raw value of the first entry of that name, or by the path of
// the file in `files` that holds it, then one NUL. Values are neither quoted
// nor split. Fails with UnresolvedPlaceholder for the first key, in word order
// and then left to right, that no entry has; every argument built until then
// is wiped as it is released.
Result<std::vector<SecretBytes>> resolve_placeholders(std::span<const ParsedWord> words,
                                                      const VaultEntries& entries,
                                                      SecretFiles& files);

}  // namespace quillbox
