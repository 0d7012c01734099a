#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace quillbox {

// Entry names and the keys of `{{KEY}}` placeholders follow one rule: a letter
// or `_`, then letters, digits and `_`, all ASCII ([A-Za-z_][A-Za-z0-9_]*).
// Names are compared case-sensitively, byte for byte.

// The rule as messages state it.
inline constexpr std::string_view kKeyNameRule =
    "key names must match [A-Za-z_][A-Za-z0-9_]* (start with a letter or underscore, contain "
    "only letters, digits, and underscores)";

// The first character of a name that breaks the key-name rule.
struct KeyNameViolation {
    char32_t character;
    // Counted in characters from 0. Every character before it is ASCII, so this
    // is also its byte offset.
    std::size_t position;
};

// The first character that breaks the rule, or nothing when every character
// fits. An empty name has no such character: it breaks the rule by being empty.
std::optional<KeyNameViolation> find_key_name_violation(std::string_view name);

// True when the name is non-empty and every character fits the rule.
bool is_valid_key_name(std::string_view name);

}  // namespace quillbox
