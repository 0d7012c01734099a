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

// What a placeholder stands for: the value itself, the path of a file that
// holds it, or the value percent-encoded for a part of a URL.
enum class PlaceholderKind { Value, File, Url };

// Which placeholders a command may hold, and what else its braces may be.
enum class PlaceholderForms {
    // `{{KEY}}` alone, and every `{{` opens one: `{{file:KEY}}`, `{{url:KEY}}`
    // and a template's `{{.Name}}` are keys that break the key-name rule.
    ValuesOnly,
    // `{{KEY}}`, `{{file:KEY}}` and `{{url:KEY}}`, opened by a `{{` that a
    // letter or "_" follows. A `{{` followed by anything else (".", "%", a
    // space, a digit, "{", or the word's end) is ordinary text, so the
    // braces of Go, Mustache, Jinja and git-format templates pass through.
    Extended,
};

// A `{{KEY}}`, `{{file:KEY}}` or `{{url:KEY}}` reference to a vault entry
// inside one word. Offsets are byte offsets into the word: `start` at the
// first `{`, `end` just past the last `}`.
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
// a `{{` that opens a placeholder closes it, whatever lies between; single
// braces and a `}}` with no `{{` before it are ordinary text. The leftmost
// opening `{{` that is never closed fails with MalformedPlaceholder, one
// whose key breaks the key-name rule with InvalidPlaceholderKey; in the
// extended forms, with UnclosedPlaceholder and InvalidPlaceholder.
Result<std::vector<Placeholder>> parse_placeholders(
    std::string_view word, PlaceholderForms forms = PlaceholderForms::ValuesOnly);

// Parses every word, first to last, stopping at the first failure: a bad
// placeholder anywhere in the command is reported before any key is looked up.
Result<std::vector<ParsedWord>> parse_words(std::vector<std::string> words,
                                            PlaceholderForms forms = PlaceholderForms::ValuesOnly);

// Builds the argument vector: for each word, its bytes with every placeholder
// replaced by the raw value of the first entry of that name, by the path of
// the file in `files` that holds it, or by the value with every byte but
// RFC 3986's unreserved characters (letters, digits, "-._~") written as "%XX",
// then one NUL. Values are neither quoted nor split. Fails with
// UnresolvedPlaceholder for the first key, in word order and then left to
// right, that no entry has, which in the extended forms says how a template's
// braces pass through when the key may be a template's action; every argument
// built until then is wiped as it is released.
Result<std::vector<SecretBytes>> resolve_placeholders(
    std::span<const ParsedWord> words, const VaultEntries& entries, SecretFiles& files,
    PlaceholderForms forms = PlaceholderForms::ValuesOnly);

}  // namespace quillbox
