#pragma once

#include <string_view>

#include "core/vault_entry.hpp"

namespace quillbox {

// Whether some entry's name is near `key`, as a mistyped name is near the one
// meant: the same but for letter case, or a few single-character edits away
// (a character left out, added or changed, or two neighbours swapped), at
// most a third of the key's length and at least one. A template's action
// (`end`, `else`, `range`) is seldom near a name.
bool near_an_entry_name(std::string_view key, const VaultEntries& entries);

}  // namespace quillbox
